// Runs parsed queries against a repository.
#pragma once

#include "simhost/cim/repository.hpp"
#include "simhost/wql/ast.hpp"
#include "simhost/wql/error.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace simhost::wql {

struct Result {
  // SELECT: matching instances (subclasses included) in creation order.
  // ASSOCIATORS OF: the associated objects; REFERENCES OF: the association instances; both in
  // the order the repository gives (creation order of the associations), each once.
  std::vector<cim::InstanceId> instances;
  // What every ExecQuery reads comes first (with `instances`): see KeptRun.
  bool keys_only = false;  // KeysOnly: the objects carry only their key values
  // SELECT p1, p2: which properties of the queried class the objects carry (a property index is
  // valid in every subclass; a subclass's own properties are never named). Empty: all of them.
  std::vector<bool> shown;
  // SELECT p1, p2: the properties asked for, spelled as the class declares them. Empty for *
  // and for ASSOCIATORS/REFERENCES.
  std::vector<std::wstring> properties;
};

// Errors: invalid_query for a malformed query, a property the class lacks, a literal that does
// not fit the property's type, an ordering operator on a boolean, a LIKE pattern with an open
// '[', or a comparison on an array;
// invalid_class for SELECT from an unknown class; not_found when the {path} of ASSOCIATORS or
// REFERENCES names no instance (including a path whose class is unknown). Unknown classes in
// AssocClass/ResultClass just match nothing.
Expected<Result> execute(const cim::Repository& repo, const Query& query);
Expected<Result> execute(const cim::Repository& repo, std::wstring_view text);

// WQL LIKE: % any run, _ any one character, [abc] [a-z] [^abc] sets; case-insensitive.
// Returns nullopt for a pattern with an unterminated '['.
std::optional<bool> like(std::wstring_view text, std::wstring_view pattern);

}  // namespace simhost::wql
