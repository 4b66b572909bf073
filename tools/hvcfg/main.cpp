// hvcfg: the hypervconfig library on the command line.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "console.h"
#include "format.h"
#include "host_file.h"
#include "inventory.h"
#include "simhost/com/installation.hpp"
#include "simhost/provider/heap.hpp"
#include "simhost/provider/simulated_host.hpp"
#include "wintvlogger.h"

namespace hvcfg {
namespace {

constexpr int kUsage = 2;

#if defined(_WIN32)
constexpr bool kSimulatedByDefault = false;  // this machine's Hyper-V
#else
constexpr bool kSimulatedByDefault = true;
#endif

enum class Kind { lists, changes, demo, help };

struct Command {
  std::string_view name;
  std::string_view synopsis;  // the arguments after the name
  std::string_view summary;
  std::string_view details;
  std::size_t arguments;
  Kind kind;
  int (*run)(Context&, const Invocation&);
};

int Start(Context& c, const Invocation& inv) {
  return SetState(c, inv.args[0], 2);
}
int Stop(Context& c, const Invocation& inv) {
  return SetState(c, inv.args[0], 3);
}
int Pause(Context& c, const Invocation& inv) {
  return SetState(c, inv.args[0], 32768);
}
int Save(Context& c, const Invocation& inv) {
  return SetState(c, inv.args[0], 32769);
}
int Reset(Context& c, const Invocation& inv) {
  return SetState(c, inv.args[0], 10);
}
int Shutdown(Context& c, const Invocation& inv) {
  return SetState(c, inv.args[0], 0);
}
int State(Context& c, const Invocation& inv) {
  return SetState(c, inv.args[0], std::stoi(inv.args[1]));
}

constexpr Command kCommands[] = {
    {"vms", "", "list the virtual machines and their adapters",
     "Lists the virtual machines (GetVirtualMachines): display name, state, health, number of\n"
     "adapters and Name; then each adapter with its MAC and the switch it is connected to.\n"
     "--json: one object per machine with the fields of vMachines.\n",
     0, Kind::lists, ListMachines},
    {"switches", "", "list the virtual switches",
     "Lists the virtual switches (GetVirtualSwitches): display name, type, the port it is bound\n"
     "to, health, state and Name. --json: one object per switch with the fields of vNetwork.\n",
     0, Kind::lists, ListSwitches},
    {"ports", "", "list the external (physical) ports",
     "Lists the host's external Ethernet ports (GetExternalPorts): display name, health and the\n"
     "DeviceID that 'create-switch --external' takes. --json: the fields of vExtPort.\n",
     0, Kind::lists, ListPorts},
    {"adapters", "", "list the machines' network adapters",
     "Lists every machine's synthetic network adapters (GetVirtualMachines): the machine, the\n"
     "adapter's display name, its MAC and the switch it is connected to.\n"
     "--json: one object per adapter with the fields of vAdapter.\n",
     0, Kind::lists, ListAdapters},
    {"start", "VM", "start a machine", "Starts VM (requested state 2).\n", 1, Kind::changes, Start},
    {"stop", "VM", "turn a machine off", "Turns VM off at once, as pulling the plug would (requested state 3).\n", 1,
     Kind::changes, Stop},
    {"pause", "VM", "pause a machine", "Pauses VM (requested state 32768).\n", 1, Kind::changes, Pause},
    {"save", "VM", "save a machine's state", "Saves VM's state and stops it (requested state 32769).\n", 1,
     Kind::changes, Save},
    {"reset", "VM", "reset a machine", "Resets VM (requested state 10).\n", 1, Kind::changes, Reset},
    {"shutdown", "VM", "shut the guest down",
     "Asks the guest operating system of VM to shut down (state 0: through its shutdown\n"
     "component, so the guest must support it).\n",
     1, Kind::changes, Shutdown},
    {"state", "VM N", "request any state number",
     "Requests state N for VM: 0 shuts the guest down; any other number is passed on as the\n"
     "requested state (2 start, 3 turn off, 10 reset, 32768 pause, 32769 save).\n",
     2, Kind::changes, State},
    {"create-switch", "NAME --internal | --external PORT | --unbound", "create a virtual switch",
     "Creates a switch with display name NAME (CreateVSwitch):\n"
     "  --internal       connected to the host itself\n"
     "  --external PORT  bound to the external port PORT: its DeviceID or display name, as\n"
     "                   'hvcfg ports' lists them\n"
     "  --unbound        a private switch, connected to nothing but machines\n",
     1, Kind::changes, CreateSwitch},
    {"delete-switch", "SWITCH", "delete a virtual switch",
     "Deletes SWITCH (DeleteVSwitch). The library deletes by display name, so hvcfg refuses when\n"
     "another switch has the same display name.\n",
     1, Kind::changes, DeleteSwitch},
    {"connect", "SWITCH VM MAC [--move]", "connect a machine's adapter to a switch",
     "Connects the adapter of VM whose MAC address is MAC to SWITCH (AddVirtNetToVirtMachine).\n"
     "MAC: 12 hexadecimal digits, bare or as six pairs all separated by '-' or all by ':'.\n"
     "An adapter connected to another switch is refused; with --move it is disconnected from\n"
     "that switch first (RemoveVirtNetFromVirtMachine), so that no unused port stays behind.\n",
     3, Kind::changes, Connect},
    {"disconnect", "SWITCH VM MAC", "disconnect a machine's adapter from a switch",
     "Disconnects the adapter of VM whose MAC address is MAC from SWITCH\n"
     "(RemoveVirtNetFromVirtMachine). MAC as for 'connect'. Refused when the adapter is not\n"
     "connected to SWITCH.\n",
     3, Kind::changes, Disconnect},
    {"demo", "", "a short guided tour on the built-in simulated host",
     "Lists the built-in simulated host, creates an internal switch, connects an adapter to it,\n"
     "disconnects it and deletes the switch, showing the tables and what each step changed.\n"
     "Always on the built-in simulated host, so --host does not apply.\n",
     0, Kind::demo, Demo},
    {"help", "[COMMAND]", "this text, or one command's",
     "Shows the tool's usage, or with COMMAND that command's (as 'hvcfg COMMAND --help').\n", 0, Kind::help, nullptr},
};

constexpr std::string_view kNames =
    "VM and SWITCH: a Name (GUID, any case, braces allowed) or a display name (exact). A display\n"
    "name that names several machines or switches is refused; give the Name instead.\n";

constexpr std::string_view kExitStatus =
    "Exit status: 0 success; 1 the library reported failure (its log lines are on standard error),\n"
    "a VM, switch, port or adapter that the host does not have, that a name does not pick out\n"
    "alone or that is not in the state the command needs, a host file that may not be written or\n"
    "could not be written back, or standard output that could not be written; 2 a usage error, a\n"
    "name the library could not handle afterwards, or a host file that cannot be read or loaded\n"
    "(nothing was run).\n";

const Command* Find(std::string_view name) {
  for (const Command& command : kCommands)
    if (command.name == name)
      return &command;
  return nullptr;
}

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: hvcfg [--host FILE] [--json] [--verbose] COMMAND [ARGUMENTS]\n\n"
               "Sees and changes a Hyper-V host's virtual networking through the hypervconfig library.\n"
#if defined(_WIN32)
               "It works on this machine's Hyper-V, or with --host on a simulated host.\n\n"
#else
               "It works on a simulated host: the built-in one, or with --host the one in a file.\n\n"
#endif
               "Commands:\n");
  for (const Command& command : kCommands) {
    const std::string call =
        std::string(command.name) + (command.synopsis.empty() ? "" : " ") + std::string(command.synopsis);
    if (call.size() > 22)
      std::fprintf(out, "  %s\n  %-22s  %.*s\n", call.c_str(), "", static_cast<int>(command.summary.size()),
                   command.summary.data());
    else
      std::fprintf(out, "  %-22s  %.*s\n", call.c_str(), static_cast<int>(command.summary.size()),
                   command.summary.data());
  }
  std::fprintf(out,
               "\nOptions:\n"
               "  --host FILE  work on the simulated host that FILE describes; when a command changes\n"
               "               the host, it is written back to FILE, so that the next command sees it\n"
               "  --json       print a listing as one JSON array, fields named as in hypervconfig.h\n"
               "  --verbose    show what the library prints (on standard error)\n"
               "  --help       this text; 'hvcfg help COMMAND' or 'hvcfg COMMAND --help' for one command\n\n"
               "%.*s\n%.*s",
               static_cast<int>(kNames.size()), kNames.data(), static_cast<int>(kExitStatus.size()),
               kExitStatus.data());
}

void PrintCommandHelp(std::FILE* out, const Command& command) {
  std::string options;
  if (command.kind == Kind::lists || command.kind == Kind::changes)
    options += " [--host FILE]";
  if (command.kind == Kind::lists)
    options += " [--json]";
  if (command.kind != Kind::help)
    options += " [--verbose]";
  std::fprintf(out, "Usage: hvcfg%s %.*s%s%.*s\n\n%.*s", options.c_str(), static_cast<int>(command.name.size()),
               command.name.data(), command.synopsis.empty() ? "" : " ", static_cast<int>(command.synopsis.size()),
               command.synopsis.data(), static_cast<int>(command.details.size()), command.details.data());
  if (command.synopsis.find("VM") != std::string_view::npos ||
      command.synopsis.find("SWITCH") != std::string_view::npos)
    std::fprintf(out, "\n%.*s", static_cast<int>(kNames.size()), kNames.data());
}

int UsageError(const std::string& message, const Command* command) {
  std::fprintf(stderr, "hvcfg: %s\n", message.c_str());
  if (command != nullptr)
    std::fprintf(stderr, "Usage: hvcfg %.*s%s%.*s (see 'hvcfg help %.*s')\n", static_cast<int>(command->name.size()),
                 command->name.data(), command->synopsis.empty() ? "" : " ", static_cast<int>(command->synopsis.size()),
                 command->synopsis.data(), static_cast<int>(command->name.size()), command->name.data());
  else
    std::fprintf(stderr, "See 'hvcfg --help'.\n");
  return kUsage;
}

struct Options {
  std::optional<std::string> host;
  bool json = false;
  bool verbose = false;
  bool help = false;
  std::vector<std::string> words;  // the command and its arguments
  Invocation invocation;
  int switchTypes = 0;  // how many of --internal, --external, --unbound were given
};

// Options may come anywhere; "--" ends them.
std::optional<std::string> Parse(int argc, char** argv, Options& o) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // "-1" is a (bad) state number, not an option.
    const bool number = arg.size() >= 2 && arg[0] == '-' && std::isdigit(static_cast<unsigned char>(arg[1]));
    if (optionsEnded || arg.size() < 2 || arg[0] != '-' || number) {
      o.words.push_back(arg);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const auto value = [&]() -> std::optional<std::string> {
      if (equals != std::string::npos)
        return arg.substr(equals + 1);
      if (i + 1 < argc)
        return std::string(argv[++i]);
      return std::nullopt;
    };
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--verbose" || arg == "-v") {
      o.verbose = true;
    } else if (arg == "--move") {
      o.invocation.move = true;
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--internal" || arg == "--unbound") {
      o.invocation.switchType = arg == "--internal" ? 2 : 0;
      ++o.switchTypes;
    } else if (name == "--host" || name == "--external") {
      const std::optional<std::string> given = value();
      if (!given || given->empty())
        return name + " needs a value";
      if (name == "--host") {
        o.host = *given;
      } else {
        o.invocation.switchType = 1;
        o.invocation.port = *given;
        ++o.switchTypes;
      }
    } else {
      return "unknown option " + arg;
    }
  }
  return std::nullopt;
}

void PrintLog(int, int, const char* text, void* console) {
  std::string line = text == nullptr ? "" : text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  static_cast<Console*>(console)->Log(line);
}

using simhost::provider::SimulatedHost;

// The loader's reason without the JSON library's internal ids ("[json.exception.parse_error.101] ")
// and without naming the host file a second time.
std::string LoadError(std::string error) {
  for (std::size_t at; (at = error.find("[json.exception.")) != std::string::npos;) {
    const std::size_t end = error.find("] ", at);
    error.erase(at, end == std::string::npos ? std::string::npos : end + 2 - at);
  }
  for (const char* prefix : {"host file is ", "host file "})
    if (error.rfind(prefix, 0) == 0)
      error.erase(0, std::strlen(prefix));
  return error;
}

int HostFileError(const std::string& path, HostFile::Failure failure, const std::string& detail) {
  using Failure = HostFile::Failure;
  const std::string why = failure == Failure::missing     ? "no such file"
                          : failure == Failure::denied    ? "permission denied"
                          : failure == Failure::directory ? "is a directory"
                          : failure == Failure::readOnly
                              ? "cannot be written (the file or its folder is read-only" +
                                    (detail.empty() ? std::string() : ": " + detail) + "); nothing was changed"
                              : detail;
  std::fprintf(stderr, "hvcfg: host file %s: %s\n", path.c_str(), why.c_str());
  return failure == Failure::readOnly ? 1 : kUsage;
}

int Run(const Options& o, const Command& command) {
  std::shared_ptr<SimulatedHost> host;
  simhost::provider::HostDescription asLoaded;
  // Held, exclusively for a change, from the read until the write-back: no other hvcfg can
  // change the host in between and have its change overwritten.
  HostFile file;
  const bool changes = command.kind == Kind::changes;
  if (o.host) {
    if (const HostFile::Failure failure = file.Open(*o.host, changes); failure != HostFile::Failure::none)
      return HostFileError(*o.host, failure, file.detail());
    // The loaded host and a listing of it take up to about 200 bytes for each byte of the file.
    simhost::provider::prepare_heap(file.text().size() * 256);
    auto loaded = SimulatedHost::from_json(file.text());
    if (!loaded) {
      std::fprintf(stderr, "hvcfg: host file %s: %s\n", o.host->c_str(), LoadError(loaded.error()).c_str());
      return kUsage;
    }
    host = std::move(loaded.value());
    // Only a command that changes the host compares it with what was loaded.
    if (changes)
      asLoaded = host->to_description();
  } else if (kSimulatedByDefault || command.kind == Kind::demo) {
    host = SimulatedHost::make_default();
  }

  Console console(o.verbose);
  if (o.host && changes)
    console.Hold();  // what the command says it did stands only once the host file has it
  int result = 1;
  {
    std::optional<simhost::com::Installation> installation;
    try {
      if (host)
        installation.emplace(host);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "hvcfg: cannot install the simulated host: %s\n", e.what());
      return 1;
    }
    Library library(console);
    Context context{console, library, o.json, o.verbose};
    TvLoggerSetSink(PrintLog, &console);
    result = command.run(context, o.invocation);
    TvLoggerSetSink(nullptr, nullptr);
  }

  // Written back whenever the host changed, after a failure too: what a failed operation did
  // change stays changed on a real host. A host that did not change leaves the file untouched.
  if (o.host && changes) {
    const simhost::provider::HostDescription now = host->to_description();
    if (now != asLoaded)
      if (const auto error = file.Replace(simhost::provider::to_json(now))) {
        console.Finish(false);
        console.Error("hvcfg: host file " + *o.host + ": cannot write the changed host back (" + *error +
                      "); the file is as it was, and the change is lost");
        return 1;
      }
  }
  // The process ends soon after: a large host would take a tenth of a second to free object by
  // object, so it is left for the system to take back with the rest of the process.
  static auto* const leftToTheSystem = new std::shared_ptr<SimulatedHost>;  // never destroyed
  *leftToTheSystem = std::move(host);
  if (!console.Finish(true)) {
    console.Error("hvcfg: cannot write to standard output");
    return 1;
  }
  return result;
}

// Help text goes to standard output; a write that failed is an error like any other.
int Flushed() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout))
    return 0;
  std::fprintf(stderr, "hvcfg: cannot write to standard output\n");
  return 1;
}

int Main(int argc, char** argv) {
  Options o;
  if (const auto error = Parse(argc, argv, o))
    return UsageError(*error, nullptr);
  if (o.words.empty() || o.words[0] == "help") {
    if (o.words.size() > 2)
      return UsageError("help takes at most one command", nullptr);
    if (o.words.size() == 2) {
      const Command* command = Find(o.words[1]);
      if (command == nullptr)
        return UsageError("no command " + o.words[1], nullptr);
      PrintCommandHelp(stdout, *command);
      return Flushed();
    }
    if (!o.help && o.words.empty()) {
      PrintUsage(stderr);
      return kUsage;
    }
    PrintUsage(stdout);
    return Flushed();
  }
  const Command* command = Find(o.words[0]);
  if (command == nullptr)
    return UsageError("no command " + o.words[0], nullptr);
  if (o.help) {
    PrintCommandHelp(stdout, *command);
    return Flushed();
  }
  o.invocation.args.assign(o.words.begin() + 1, o.words.end());
  const std::size_t given = o.invocation.args.size();
  if (given != command->arguments)
    return UsageError(std::string(command->name) + (given < command->arguments ? " needs " : " takes only ") +
                          std::to_string(command->arguments) + " argument" + (command->arguments == 1 ? "" : "s"),
                      command);
  if (o.json && command->kind != Kind::lists)
    return UsageError("--json applies to vms, switches, ports and adapters", command);
  if (o.host && command->kind == Kind::demo)
    return UsageError("demo runs on the built-in simulated host; --host does not apply", command);
  const bool creates = command->name == "create-switch";
  if (creates && o.switchTypes != 1)
    return UsageError("give one of --internal, --external PORT, --unbound", command);
  if (!creates && o.switchTypes != 0)
    return UsageError("--internal, --external and --unbound apply to create-switch", command);
  if (command->name == "state") {
    const std::string& n = o.invocation.args[1];
    char* end = nullptr;
    const long value = std::strtol(n.c_str(), &end, 10);
    if (n.empty() || *end != 0 || value < 0 || value > 65535)
      return UsageError("state N must be a number from 0 to 65535", command);
  }
  if (o.invocation.move && command->name != "connect")
    return UsageError("--move applies to connect", command);
  if (creates)
    if (const std::string problem = NewSwitchNameProblem(o.invocation.args[0]); !problem.empty())
      return UsageError("cannot create switch " + Quoted(o.invocation.args[0]) + ": " + problem, command);
  if (command->name == "connect" || command->name == "disconnect")
    if (NormalMac(o.invocation.args[2]).empty())
      return UsageError("MAC must be 12 hexadecimal digits, such as 00155D010A05 or 00-15-5D-01-0A-05", command);
  return Run(o, *command);
}

}  // namespace
}  // namespace hvcfg

int main(int argc, char** argv) {
  try {
    return hvcfg::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hvcfg: %s\n", e.what());
    return 1;
  }
}
