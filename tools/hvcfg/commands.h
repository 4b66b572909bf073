// The tool's commands over the library's public operations.
#pragma once

#include <string>
#include <vector>

#include "console.h"
#include "inventory.h"

namespace hvcfg {

struct Context {
  Console& console;
  Library& library;
  bool json = false;
  bool verbose = false;
};

// What the command line gave a command beyond its name.
struct Invocation {
  std::vector<std::string> args;
  int switchType = -1;  // create-switch: 1 external, 2 internal, 0 unbound
  std::string port;     // create-switch --external: a port's DeviceID or display name
  bool move = false;    // connect --move: an adapter connected elsewhere may be moved
};

// Exit status of a command refused before anything ran, for a reason its arguments give.
constexpr int kRefused = 2;

// Each returns the exit status: 0 success, 1 failure (the library's, or a name it cannot resolve),
// kRefused for a name the library could not handle afterwards.
int ListMachines(Context& c, const Invocation& inv);
int ListSwitches(Context& c, const Invocation& inv);
int ListPorts(Context& c, const Invocation& inv);
int ListAdapters(Context& c, const Invocation& inv);
int SetState(Context& c, const std::string& vm, int state);
int CreateSwitch(Context& c, const Invocation& inv);
int DeleteSwitch(Context& c, const Invocation& inv);
int Connect(Context& c, const Invocation& inv);
int Disconnect(Context& c, const Invocation& inv);
int Demo(Context& c, const Invocation& inv);

// 12 hexadecimal digits in upper case from "00155d010a05", "00-15-5D-01-0A-05" or
// "00:15:5d:01:0a:05"; empty when it is none of these.
std::string NormalMac(const std::string& text);

// Why the library could not carry `name` as a new switch's display name, or empty: it goes into
// WQL unescaped, as 8-bit text, into a record of 128 bytes.
std::string NewSwitchNameProblem(const std::string& name);

}  // namespace hvcfg
