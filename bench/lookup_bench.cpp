// A point query and an ASSOCIATORS OF one object, on a small and a large host, against SQLite 3
// (in memory) preparing and stepping the same lookup on the same data. Targets: each of ours
// costs the same on 100 and 10,000 objects (ratio at most 1.5), and is at least as fast as
// SQLite's (the summary prints both ratios).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "host.h"
#include "simhost/cim/text.hpp"

namespace {

using simhost::provider::SimulatedHost;

// The machine count whose host holds about `objects` instances (associations included).
unsigned VmsFor(unsigned objects) {
  const auto one = SimulatedHost(hvcbench::Sized(1, 1)).repository().size();
  const auto two = SimulatedHost(hvcbench::Sized(2, 1)).repository().size();
  const auto per_vm = two - one;
  const auto base = one - per_vm;
  return objects > base + per_vm ? static_cast<unsigned>((objects - base) / per_vm) : 1;
}

std::string Narrow(const std::wstring& text) {
  return simhost::cim::narrow(text);
}

// One host and the same data in SQLite: every instance (path, class, Name) and every
// association as two directed links, indexed as a careful schema would be.
struct Fixture {
  std::unique_ptr<SimulatedHost> host;
  sqlite3* db = nullptr;
  std::wstring vm_name;    // a machine in the middle of the host
  std::wstring port_path;  // a switch port in the middle of the host

  explicit Fixture(unsigned objects) : host(std::make_unique<SimulatedHost>(hvcbench::Sized(VmsFor(objects), 16))) {
    const auto& repo = host->repository();
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) {
      throw std::runtime_error("sqlite3_open");
    }
    Exec(
        "CREATE TABLE instance(path TEXT PRIMARY KEY COLLATE NOCASE, class TEXT NOT NULL COLLATE NOCASE,"
        " name TEXT COLLATE NOCASE);"
        "CREATE INDEX instance_by_name ON instance(class, name);"
        "CREATE TABLE link(assoc_class TEXT NOT NULL COLLATE NOCASE, from_path TEXT NOT NULL COLLATE NOCASE,"
        " to_path TEXT NOT NULL COLLATE NOCASE);"
        "CREATE INDEX link_by_source ON link(from_path, assoc_class);"
        "BEGIN");
    sqlite3_stmt* add_instance = Prepare("INSERT INTO instance VALUES(?, ?, ?)");
    sqlite3_stmt* add_link = Prepare("INSERT INTO link VALUES(?, ?, ?)");
    for (const auto& cls : repo.schema().classes()) {
      for (const auto id : repo.instances_of(*cls, false)) {
        const auto& inst = *repo.get(id);
        const auto name = repo.property(inst, L"Name");
        const auto* name_text = name ? name->as_string() : nullptr;
        Bind(add_instance, {Narrow(repo.path_text(inst)), Narrow(cls->name()), name_text ? Narrow(*name_text) : ""});
        std::vector<std::string> ends;
        for (std::size_t p = 0; p < cls->properties().size(); ++p) {
          const auto* ref =
              cls->properties()[p].type.type == simhost::cim::CimType::Reference ? inst.values[p].as_string() : nullptr;
          const auto target = ref ? repo.find(*ref) : std::nullopt;
          if (target) {
            ends.push_back(Narrow(repo.path_text(*repo.get(*target))));
          }
        }
        if (ends.size() == 2) {
          Bind(add_link, {Narrow(cls->name()), ends[0], ends[1]});
          Bind(add_link, {Narrow(cls->name()), ends[1], ends[0]});
        }
      }
    }
    sqlite3_finalize(add_instance);
    sqlite3_finalize(add_link);
    Exec("COMMIT");

    const auto machines = host->query(L"SELECT * FROM Msvm_ComputerSystem WHERE Caption='Virtual Machine'");
    vm_name = *repo.property(*repo.get(machines->instances[machines->instances.size() / 2]), L"Name")->as_string();
    const auto ports = repo.instances_of(*repo.schema().find(L"Msvm_SwitchPort"));
    port_path = repo.path_text(*repo.get(ports[ports.size() / 2]));
  }
  ~Fixture() { sqlite3_close(db); }
  Fixture(const Fixture&) = delete;
  Fixture& operator=(const Fixture&) = delete;

  void Exec(const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db));
    }
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db));
    }
    return stmt;
  }
  static void Bind(sqlite3_stmt* stmt, std::initializer_list<std::string> values) {
    int i = 1;
    for (const auto& v : values) {
      sqlite3_bind_text(stmt, i++, v.c_str(), -1, SQLITE_TRANSIENT);
    }
    if (sqlite3_step(stmt) != SQLITE_DONE) {
      throw std::runtime_error("insert");
    }
    sqlite3_reset(stmt);
  }
};

// One fixture per size for the whole run: building the 10,000-object one takes a while.
Fixture& FixtureOf(unsigned objects) {
  static std::map<unsigned, std::unique_ptr<Fixture>> fixtures;
  auto& f = fixtures[objects];
  if (!f) {
    f = std::make_unique<Fixture>(objects);
  }
  return *f;
}

std::wstring PointQuery(const Fixture& f) {
  return L"SELECT * FROM Msvm_ComputerSystem WHERE Name='" + f.vm_name + L"'";
}
std::wstring AssociatorsQuery(const Fixture& f) {
  return L"ASSOCIATORS OF {" + f.port_path + L"} WHERE AssocClass=Msvm_ActiveConnection";
}

// Ours: the text goes through the engine as the COM facade's ExecQuery sends it, and each
// result's __PATH is read, as a caller reads a column.
void Ours(benchmark::State& state, std::wstring (*text)(const Fixture&)) {
  auto& f = FixtureOf(static_cast<unsigned>(state.range(0)));
  const auto query = text(f);
  const auto& repo = f.host->repository();
  std::size_t rows = 0;
  for (auto _ : state) {
    const auto result = f.host->query(query);
    for (const auto id : result->instances) {
      benchmark::DoNotOptimize(repo.system_property(*repo.get(id), L"__PATH"));
      ++rows;
    }
  }
  state.counters["objects"] = static_cast<double>(repo.size());
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

// SQLite: the same lookup's text prepared, stepped to its end reading each path, finalized.
void Sqlite(benchmark::State& state, std::string (*text)(const Fixture&)) {
  auto& f = FixtureOf(static_cast<unsigned>(state.range(0)));
  const auto sql = text(f);
  std::size_t rows = 0;
  for (auto _ : state) {
    sqlite3_stmt* stmt = f.Prepare(sql);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_text(stmt, 0));
      ++rows;
    }
    sqlite3_finalize(stmt);
  }
  state.counters["objects"] = static_cast<double>(f.host->repository().size());
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

std::string SqlPoint(const Fixture& f) {
  return "SELECT path FROM instance WHERE class='Msvm_ComputerSystem' AND name='" + Narrow(f.vm_name) + "'";
}
std::string SqlAssociators(const Fixture& f) {
  return "SELECT i.path FROM link l JOIN instance i ON i.path = l.to_path WHERE l.from_path='" + Narrow(f.port_path) +
         "' AND l.assoc_class='Msvm_ActiveConnection'";
}

void PointQueryOurs(benchmark::State& state) {
  Ours(state, PointQuery);
}
void PointQuerySqlite(benchmark::State& state) {
  Sqlite(state, SqlPoint);
}
void AssociatorsOurs(benchmark::State& state) {
  Ours(state, AssociatorsQuery);
}
void AssociatorsSqlite(benchmark::State& state) {
  Sqlite(state, SqlAssociators);
}
BENCHMARK(PointQueryOurs)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(PointQuerySqlite)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(AssociatorsOurs)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(AssociatorsSqlite)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
