// The simulated host's CIM repository: instances of schema classes, with indexes by path, by
// class and by association role so that no lookup scans the whole store.
#pragma once

#include "simhost/cim/compact_text.hpp"
#include "simhost/cim/expected.hpp"
#include "simhost/cim/path.hpp"
#include "simhost/cim/schema.hpp"
#include "simhost/cim/value.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace simhost::cim {

// Stable for the repository's lifetime; never reused after a delete. Ids grow with creation, so
// ordering by id is ordering by creation.
using InstanceId = std::uint64_t;

enum class Status : std::uint8_t {
  ok,
  invalid_class,     // unknown or abstract class
  not_found,         // no such instance
  invalid_property,  // the class has no property of that name
  type_mismatch,     // the value does not convert to the property's type
  out_of_range,      // a number that does not fit the property's type
  missing_key,       // a key property is null
  already_exists,    // another instance has the same path
};

// What handing out an object and reading its path touch (its class and path) come first: the
// repository keeps instances on cache lines (line_aligned.hpp), so these share one with the
// reference counts in front of them.
struct Instance {
  const ClassDef* cls = nullptr;
  // Set by the repository when it stores the instance, so that reading them renders nothing.
  CompactText path;
  InstanceId id = 0;
  std::vector<Value> values;   // parallel to cls->properties()
  std::size_t relpath_at = 0;  // the relative path is the end of the path, from here
  std::wstring relpath() const { return path.str(relpath_at); }
};

// What a query hands out: the instance as it was when taken. The repository never edits an
// instance that a snapshot still holds; it changes a copy, so snapshots cost no copying.
using Snapshot = std::shared_ptr<const Instance>;

using PropertyList = std::vector<std::pair<std::wstring, Value>>;

// What happens to association instances that reference a deleted instance. The provider decides:
// deleting a switch drops its HostedAccessPoint links; some callers want dangling links kept.
enum class Cascade : std::uint8_t { none, associations };

// Filters of ASSOCIATORS OF; empty strings do not filter. Class filters match subclasses; a class
// the schema does not know matches nothing. Qualifier filters look at the class and its ancestors.
struct AssociatorFilter {
  std::wstring assoc_class;
  std::wstring result_class;
  std::wstring role;
  std::wstring result_role;
  std::wstring required_qualifier;        // on the result object's class
  std::wstring required_assoc_qualifier;  // on the association's class
};

// Filters of REFERENCES OF; result_class names the association class.
struct ReferenceFilter {
  std::wstring result_class;
  std::wstring role;
  std::wstring required_qualifier;
};

class Repository {
 public:
  // `schema` must outlive the repository.
  Repository(const Schema& schema, std::wstring server, std::wstring ns = L"root\\virtualization");
  Repository(const Repository&) = delete;
  Repository& operator=(const Repository&) = delete;

  const Schema& schema() const noexcept { return *schema_; }
  const std::wstring& server() const noexcept { return server_; }
  const std::wstring& ns() const noexcept { return ns_; }
  std::size_t size() const noexcept { return live_; }
  // Moves on whenever an instance is created, deleted or re-keyed, so that what was found by a
  // path can be kept until then. Never 0.
  std::uint64_t paths_version() const noexcept { return paths_version_; }
  // Moves on with every change of any kind (create, set, remove), so that whatever a query found
  // can be kept until then. Never 0.
  std::uint64_t version() const noexcept { return version_; }

  // Values are converted to the property types as WMI does on Put. All keys must be set.
  Expected<InstanceId, Status> create(std::wstring_view class_name, const PropertyList& properties);
  // Sets one property. Changing a key re-keys the instance (refused if the new path is taken);
  // changing a reference of an association re-indexes it.
  Status set(InstanceId id, std::wstring_view property, const Value& value);
  // Deletes the instance and, with Cascade::associations, every association instance that
  // references it. Returns the ids deleted, the instance first; empty when it did not exist.
  std::vector<InstanceId> remove(InstanceId id, Cascade cascade);

  const Instance* get(InstanceId id) const noexcept;
  // The instance as it is now, kept unchanged for as long as the caller holds it; null if none.
  Snapshot snapshot(InstanceId id) const noexcept;
  // Asks the processor to start loading one level of what reading an instance's path touches:
  // its slot, its instance, or its path. Each level is found through the one before, so a caller
  // that knows what it will read asks for the levels in that order, one call apart.
  enum class Level : std::uint8_t { slot, instance, path };
  void prefetch(InstanceId id, Level level) const noexcept;
  // Resolves a full or relative path. The server may be empty, "." or this host's name; the
  // namespace, when given, must be this one. A path may name a superclass of the instance's
  // class, as long as the keys identify it.
  std::optional<InstanceId> find(const ObjectPath& path) const;
  std::optional<InstanceId> find(std::wstring_view path_text) const;

  // Instances of exactly `cls` whose scalar text property `property` (an index into its
  // properties) equals `value`, or with `prefix` begins with it, case-insensitively, in creation
  // order. An index of that property is made on first use and kept up to date, so a lookup
  // costs the same on any size of host.
  std::vector<InstanceId> matching(const ClassDef& cls, std::size_t property, std::wstring_view value,
                                   bool prefix) const;

  // Instances of the class, and of its subclasses when `deep`, in creation order.
  std::vector<InstanceId> instances_of(const ClassDef& cls, bool deep = true) const;

  ObjectPath path(const Instance& inst) const;
  // Stored instances carry their paths; others (a probe, a copy) render them.
  std::wstring path_text(const Instance& inst) const { return inst.path.empty() ? path(inst).str() : inst.path.str(); }
  std::wstring relpath_text(const Instance& inst) const {
    return inst.path.empty() ? path(inst).relpath() : inst.relpath();
  }

  // Regular or system property (__CLASS, __PATH, ...); nullopt if the name is neither.
  std::optional<Value> property(const Instance& inst, std::wstring_view name) const;
  std::optional<Value> system_property(const Instance& inst, std::wstring_view name) const;
  static const std::vector<std::wstring_view>& system_property_names();
  static bool is_system_property(std::wstring_view name);

  // Association instances that reference `source`, in their creation order, each once.
  std::vector<InstanceId> references_of(InstanceId source, const ReferenceFilter& filter = {}) const;
  // Objects at the other ends of those associations, each once, ordered by the creation of
  // the association that first leads to them (then by the reference's declaration order).
  // References to objects that do not exist are skipped.
  std::vector<InstanceId> associators_of(InstanceId source, const AssociatorFilter& filter = {}) const;

 private:
  // A normalised path (class and key values, folded) as bytes: ASCII as itself, any other
  // character as a 0xFF byte and its four bytes. Paths are nearly all ASCII, and a key is kept
  // for every instance and every path a reference names.
  using Key = std::string;
  // What following a link needs, kept in the link so that a walk over many of them (a switch's
  // ports) reads one array instead of chasing each association through the heap.
  struct Target;
  struct Link {
    InstanceId assoc;
    std::size_t property;
    const ClassDef* assoc_cls = nullptr;
    Target* other = nullptr;  // the other end of a two-ended association; null otherwise
    std::size_t other_property = 0;
  };
  // A normalised path: the instance there (0 when none), and the association references that
  // name it. Slots and links point at these, so that following a link hashes nothing. A target
  // is dropped once nothing is there and nothing names it, so pointers to it never dangle.
  struct Target {
    const Key* key = nullptr;  // its own key in the map
    InstanceId id = 0;
    const ClassDef* cls = nullptr;  // of the instance there
    std::vector<Link> incoming;     // in (association, property) order, which is creation order
  };
  // A cache line each: a slot read on its way to an instance is then one line, never two.
  struct alignas(64) Slot {
    std::shared_ptr<Instance> inst;  // shared with snapshots; copied before a change if it is
    Target* target = nullptr;        // where its normalised path leads; holds that path as its key
    const Key& key() const { return *target->key; }
    std::vector<std::pair<std::size_t, Target*>> links;  // reference property -> what it names
  };

  Slot* slot(InstanceId id) noexcept;
  const Slot* slot(InstanceId id) const noexcept;
  Key key_of(const Instance& inst) const;
  Instance& writable(Slot& s);
  void set_paths(Instance& inst) const;
  std::optional<Key> key_of(const ObjectPath& path, const ClassDef& cls) const;
  bool local(const ObjectPath& path) const;
  std::optional<Key> target_key(const Value& reference) const;
  void index_links(Slot& s);
  void unindex_links(Slot& s);
  const std::vector<Link>& links_to(const Slot& target) const { return target.target->incoming; }
  Target& target_at(Key key);
  // Moves the slot's instance to the target of `key` (none: it is deleted). The count, the
  // targets' occupants and the paths' version all follow from this one place.
  void place(Slot& s, std::optional<Key> key);
  // Forgets the target if nothing is there and nothing names it.
  void drop_if_unused(Target& t);
  static bool link_order(const Link& a, const Link& b) {
    return a.assoc != b.assoc ? a.assoc < b.assoc : a.property < b.property;
  }

  using ValueIndex = std::set<std::pair<std::wstring, InstanceId>>;  // folded value, instance
  // Entries of `inst` in the value indexes made so far, added or taken out.
  void index_values(const Instance& inst, bool add) const;
  void index_value(ValueIndex& index, const Instance& inst, std::size_t property, bool add) const;

  const Schema* schema_;
  std::wstring server_;
  std::wstring ns_;
  // Index = id - 1; without an instance once deleted. Held in place: reading an object costs one
  // step from here to its instance.
  std::vector<Slot> slots_;
  std::unordered_map<Key, Target> targets_;  // by normalised path
  std::size_t live_ = 0;
  std::uint64_t paths_version_ = 1;
  std::uint64_t version_ = 1;
  mutable std::map<std::pair<std::size_t, std::size_t>, ValueIndex> value_indexes_;  // (class id, property)
  mutable std::vector<std::uint32_t> marks_;  // by instance id: the call that last listed it
  mutable std::uint32_t mark_ = 0;
  std::vector<std::vector<InstanceId>> by_class_;  // by ClassDef::id(), ascending ids
};

}  // namespace simhost::cim
