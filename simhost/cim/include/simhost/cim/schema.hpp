// Class definitions: properties, keys, qualifiers and method signatures, resolved against the
// class hierarchy once when the schema is built.
#pragma once

#include "simhost/cim/text.hpp"
#include "simhost/cim/value.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace simhost::cim {

struct Qualifier {
  std::wstring name;
  Value value;
};

// One property or parameter type: a CIM type, array or not, and for references the class they
// point at (informational: WMI does not check it on Put).
struct TypeRef {
  CimType type = CimType::String;
  bool array = false;
  std::wstring ref_class;
};

struct PropertyDecl {
  std::wstring name;
  TypeRef type;
  bool key = false;
  std::vector<Qualifier> qualifiers;
};

struct ParameterDecl {
  std::wstring name;
  TypeRef type;
  std::vector<Qualifier> qualifiers;
};

struct MethodDecl {
  std::wstring name;
  std::vector<ParameterDecl> in;
  std::vector<ParameterDecl> out;  // every method also returns ReturnValue (uint32), not listed here
};

struct ClassDecl {
  ClassDecl(std::wstring name_, std::wstring superclass_, std::vector<PropertyDecl> properties_ = {},
            std::vector<MethodDecl> methods_ = {}, std::vector<Qualifier> qualifiers_ = {})
      : name(std::move(name_)),
        superclass(std::move(superclass_)),
        properties(std::move(properties_)),
        methods(std::move(methods_)),
        qualifiers(std::move(qualifiers_)) {}

  std::wstring name;
  std::wstring superclass;  // empty for a root class
  std::vector<PropertyDecl> properties;
  std::vector<MethodDecl> methods;
  std::vector<Qualifier> qualifiers;  // "Association" and "Abstract" are recognised
};

// Resolved view of a class. Properties are flattened: the parent's properties come first in the
// parent's order (so a property index is valid for every subclass), then the class's own.
// A redeclared property keeps its slot and takes the new declaration.
class ClassDef {
 public:
  const std::wstring& name() const noexcept { return name_; }
  const ClassDef* superclass() const noexcept { return parent_; }
  std::size_t id() const noexcept { return id_; }

  const std::vector<PropertyDecl>& properties() const noexcept { return properties_; }
  std::optional<std::size_t> property_index(std::wstring_view name) const;
  const PropertyDecl* property(std::wstring_view name) const;
  // Key property indices, sorted by name case-insensitively (the order of a path).
  const std::vector<std::size_t>& keys() const noexcept { return keys_; }

  const std::vector<MethodDecl>& methods() const noexcept { return methods_; }
  const MethodDecl* method(std::wstring_view name) const;  // own or inherited, most derived wins

  const std::vector<Qualifier>& qualifiers() const noexcept { return qualifiers_; }
  // Looks at this class and its ancestors, nearest first.
  const Qualifier* qualifier(std::wstring_view name) const;
  bool is_association() const;
  bool is_abstract() const;  // not inherited

  // Ancestors nearest first (what __DERIVATION lists).
  std::vector<std::wstring> derivation() const;
  const ClassDef& dynasty() const noexcept;  // the root of this class's hierarchy

 private:
  friend class Schema;
  std::wstring name_;
  const ClassDef* parent_ = nullptr;
  std::size_t id_ = 0;
  std::vector<PropertyDecl> properties_;
  std::unordered_map<std::wstring, std::size_t, IHash, IEqual> by_name_;
  std::vector<std::size_t> keys_;
  std::vector<MethodDecl> methods_;
  std::vector<Qualifier> qualifiers_;
  std::vector<const ClassDef*> with_subclasses_;  // itself and every descendant, in the order added
};

class SchemaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Schema {
 public:
  Schema() = default;
  Schema(const Schema&) = delete;
  Schema& operator=(const Schema&) = delete;
  Schema(Schema&&) = default;
  Schema& operator=(Schema&&) = default;

  // Parents must be added before their children. Throws SchemaError on a duplicate class or
  // property, an unknown parent, or a redeclaration that changes a property's type.
  const ClassDef& add(ClassDecl decl);

  const ClassDef* find(std::wstring_view name) const;
  // True when `cls` is `ancestor` or derives from it.
  bool is_a(const ClassDef& cls, const ClassDef& ancestor) const noexcept;
  bool is_a(std::wstring_view cls, std::wstring_view ancestor) const;
  // Classes in the order added.
  const std::vector<std::unique_ptr<ClassDef>>& classes() const noexcept { return classes_; }
  // The class and all its descendants, in the order added.
  const std::vector<const ClassDef*>& with_subclasses(const ClassDef& cls) const noexcept {
    return cls.with_subclasses_;
  }

 private:
  std::vector<std::unique_ptr<ClassDef>> classes_;
  std::unordered_map<std::wstring, ClassDef*, IHash, IEqual> by_name_;
};

// The classes of ROOT\virtualization that the simulated host serves.
const Schema& virtualization_schema();

}  // namespace simhost::cim
