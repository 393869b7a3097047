// The Tcl binding of the velmar package: table-driven commands.
//
// Every scripted command is described by data (its name, the name and type
// text of each argument after `self`, and a callee); one generic command
// procedure converts the words, calls the callee and builds the result. The
// usage texts and every error message are generated from the descriptors,
// so they cannot drift from the argument lists.
//
// HOW TO ADD COMMANDS (one binder function per class or per group of
// methods; the package start-up calls BindTech and BindApi, which may call
// further binders of their own):
//
//   void BindTech(Registry& registry) {
//     ClassBinding<Tech> c(registry);     // new_Tech, delete_Tech, class cmd
//     c.Attribute("reportDegree", kInt, &Tech::reportDegree);
//     c.Attribute("ignoreText", kBool, &Tech::ignoreText);
//     c.Attribute("transmittance", kDouble, &Tech::transmittance);
//     c.Attribute("biasRules", kSList,
//                 [](Tech& t) { return Fresh<SList>{new SList(t.biasRules)}; },
//                 [](Tech& t, SList& l) { t.biasRules = l; });
//     c.Method("SetHammer", {{"i", kInt}, {"bias", kInt}},
//              [](Tech& t, int i, int bias) { t.SetHammer(i, bias); });
//   }
//   void BindApi(Registry& registry) {
//     ClassBinding<API> c(registry);
//     c.Attribute("tech", kTechPtr, &API::tech);        // embedded object
//     c.Attribute("hostName", CharArray(128, "char [128]"), &API::hostName);
//     c.Method("SetArea", {{"cname", kCharPtr}, {"x1", kInt}, ...},
//              [](API& a, const char* cname, int x1, ...) {
//                return a.SetArea(cname, x1, ...); });
//     c.Overloaded("AND", {
//         c.MakeForm({{"layer1", kInt}, {"datatype1", kInt}},
//                    [](API& a, int l, int d) { return a.AND(l, d, -1, 0); }),
//         c.MakeForm({{"layer1", kInt}, {"datatype1", kInt},
//                     {"layer2", kInt}, {"datatype2", kInt}},
//                    [](API& a, int l1, int d1, int l2, int d2) {...})});
//   }
//
// Rules:
//  - Every command that becomes registered is also listed, in table order,
//    in tests/command/registered_commands.txt (the command tests compare).
//  - Commands are named by the class: Method("SetArea") is API_SetArea,
//    Attribute("_dpFile") gives API__dpFile_set and API__dpFile_get.
//    Only names of the package's command table are registered, in table
//    order; the object-command method list follows that order too, so the
//    order of the calls above does not matter.
//  - The callee's first parameter is the object (`C&`, never null); then one
//    parameter per Arg, whose C++ type must fit the Arg's type:
//      kInt -> int, kBool -> bool, kDouble -> double,
//      kCharPtr / kCharConstPtr -> const char*,
//      CharArray(N, text) -> std::string_view (at most N bytes),
//      kApiPtr / kTechPtr -> API& / Tech&, kSList -> SList&.
//    A mismatch is reported when the binding is built (aborts start-up;
//    the command tests catch it first).
//  - The callee's return type is the result: void (empty result), int,
//    bool, double, const char* (null gives ""), std::string, Fresh<C> (a
//    new object the script may name; API and Tech objects get a non-owning
//    object command, SList gets a list handle) or Member<C> (an object
//    embedded in `self`, e.g. API's tech: it lives and dies with self).
//  - Null handles ("NULL"): int/bool/double attribute setters and delete
//    commands do nothing; every other command refuses a null object with a
//    ValueError.
//  - Callees need no error handling for Tcl: an Error escaping a callee
//    prints "ERROR: %s: %s\n" (unit tag, message) and ends the process with
//    status 1; std::bad_alloc takes the out-of-memory path. Methods that
//    recover from an Error catch it themselves, as their operation says.
#pragma once

#include <tcl.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace velmar {

class API;
class Tech;
struct SList;

namespace binding {

// ---------------------------------------------------------------------------
// Type table: the pointer types that object arguments and results carry.

struct PointerType {
  const char* name;       // type name in pointer strings: "_p_API"
  const char* text;       // type text in error messages: "API *"
  const char* className;  // scripted class name, null when there is none
};

extern const PointerType kApiType;    // "_p_API"   "API *"   class API
extern const PointerType kSListType;  // "_p_SList" "SList *" no class
extern const PointerType kTechType;   // "_p_Tech"  "Tech *"  class Tech
extern const PointerType kCharType;   // "_p_char"  "char *"  no class

// The type list, in table order; its address is published in the Tcl
// variable "swig_runtime_data_type_pointer2".
extern const PointerType* const kTypeList[4];

// Maps a bound C++ class to its pointer type. Specialised for API, Tech and
// SList below; tests may specialise it for their own classes.
template <class T>
struct TypeOf;
template <>
struct TypeOf<API> {
  static const PointerType& Get() { return kApiType; }
};
template <>
struct TypeOf<Tech> {
  static const PointerType& Get() { return kTechType; }
};
template <>
struct TypeOf<SList> {
  static const PointerType& Get() { return kSListType; }
};

// ---------------------------------------------------------------------------
// Argument types.

enum class ArgKind : uint8_t {
  Int,        // Tcl_GetLongFromObj, refused outside the 32-bit range
  Bool,       // Tcl_GetBooleanFromObj
  Double,     // Tcl_GetDoubleFromObj
  Text,       // the word's text; never fails
  CharArray,  // the word's text, at most arrayLength bytes
  Object,     // pointer string of a live object (or a command naming one)
  List,       // list handle: pointer string of a live "_p_SList"
};

struct ArgType {
  ArgKind kind;
  const char* text;         // type text of error messages: "int", "API *"
  std::size_t arrayLength;  // CharArray only: N
  const PointerType* pointer;  // Object and List only
};

inline constexpr ArgType kInt{ArgKind::Int, "int", 0, nullptr};
inline constexpr ArgType kBool{ArgKind::Bool, "bool", 0, nullptr};
inline constexpr ArgType kDouble{ArgKind::Double, "double", 0, nullptr};
inline constexpr ArgType kCharPtr{ArgKind::Text, "char *", 0, nullptr};
inline constexpr ArgType kCharConstPtr{ArgKind::Text, "char const *", 0,
                                       nullptr};
inline constexpr ArgType kApiPtr{ArgKind::Object, "API *", 0, &kApiType};
inline constexpr ArgType kTechPtr{ArgKind::Object, "Tech *", 0, &kTechType};
inline constexpr ArgType kSList{ArgKind::List, "SList", 0, &kSListType};
// A fixed character array field of n bytes, e.g. CharArray(16, "char [16]").
constexpr ArgType CharArray(std::size_t n, const char* text) {
  return ArgType{ArgKind::CharArray, text, n, nullptr};
}

// One argument after `self`: its name (usage text) and type.
struct Arg {
  const char* name;
  ArgType type;
};

// A converted word.
struct Value {
  long integer = 0;        // Int, Bool (0 or 1)
  double real = 0.0;       // Double
  std::string text;        // Text, CharArray (a copy: stable for the call)
  void* object = nullptr;  // Object, List
  const PointerType* type = nullptr;  // Object, List
};

// Result wrappers for object results.
template <class C>
struct Fresh {  // a new object, independent of self
  C* object;
};
template <class C>
struct Member {  // an object embedded in self
  C* object;
};

// ---------------------------------------------------------------------------
// Live-object registry. Every object a script can name is registered here
// under (address, type) while it exists; handles of other objects (forged,
// deleted, or of another class) are refused. Objects embedded in another
// object name their owner as parent and go with it. The owned flag is the
// owned-object registry of the object commands.

void RegisterLive(void* object, const PointerType& type, void* parent = nullptr,
                  const PointerType* parentType = nullptr);
// Removes the object and every object registered with it as parent.
void UnregisterLive(void* object, const PointerType& type);
bool IsLive(void* object, const PointerType& type);
// Serial number of the registration (0 when not live): a new object at the
// address of a destroyed one gets a new serial.
uint64_t LiveSerial(void* object, const PointerType& type);
// True when the object is embedded in another (registered with a parent).
bool IsEmbedded(void* object, const PointerType& type);
// Ownership by an object command: Acquire adds it (not for embedded or dead
// objects); Disown removes it and tells whether it was there.
bool Acquire(void* object, const PointerType& type);
bool Disown(void* object, const PointerType& type);
bool IsOwned(void* object, const PointerType& type);

// ---------------------------------------------------------------------------
// Pointer strings: "_" + the address as two lowercase hex digits per byte in
// memory order + the type name; "NULL" for the null pointer.

std::string PointerString(const void* address, const PointerType& type);
// Parses "_<digits>_p_X" of exactly this type (syntax only, no registry).
bool ParsePointerString(std::string_view word, const PointerType& type,
                        void** address);

// ---------------------------------------------------------------------------
// Conversion of one word.

enum class Conversion : uint8_t {
  Ok,
  TypeError,   // the word does not convert to the argument's type
  NullObject,  // "NULL" given for an object or list argument
};

// Converts word to type into out. Object and list words that are neither a
// pointer string nor "NULL" are resolved by calling `word cget -this` (as a
// word list, never as a script) and converting its result again, up to
// kMaxResolveDepth times; the interpreter result is reset on failure.
Conversion ConvertWord(Tcl_Interp* interp, Tcl_Obj* word, const ArgType& type,
                       Value& out);
inline constexpr int kMaxResolveDepth = 16;

// ---------------------------------------------------------------------------
// Command descriptors.

enum class NullSelf : uint8_t {
  Refuse,  // a null object is a ValueError
  Ignore,  // a null object: the command does nothing
};

using Invoker = std::function<void(Tcl_Interp*, Value*)>;

// One form of a command: argument list and callee. values[0] is self when
// the command has one, then one value per argument.
struct Form {
  std::vector<Arg> args;
  Invoker invoke;
};

enum class CommandRole : uint8_t {
  AttributeSet,
  AttributeGet,
  Constructor,
  Method,
  Destructor,
  ClassCommand,
};

struct ClassRecord;

struct Command {
  std::string name;
  CommandRole role = CommandRole::Method;
  const PointerType* self = nullptr;  // null: no `self` word
  NullSelf nullSelf = NullSelf::Refuse;
  std::vector<Form> forms;  // one, or several told apart by word count
  std::string member;       // method or attribute name ("" otherwise)
  ClassRecord* record = nullptr;  // class commands: their class
  std::string usage;        // ":API_AND self layer1 datatype1 ... "
};

// Usage text of a command form: ":", name, " self" when it has one, " " and
// the name of each argument, then one more " ".
std::string UsageText(const std::string& name, bool hasSelf,
                      const std::vector<Arg>& args);

// Scripted class: constructor, destructor, methods and attributes. Built
// from the registered commands at start-up, in command-table order.
struct ClassRecord {
  std::string name;  // "API", "Tech"
  const PointerType* type = nullptr;
  const Command* constructor = nullptr;
  std::function<void(void*)> destroy;  // destructor of one live object
  std::vector<std::pair<std::string, const Command*>> methods;
  struct Attribute {
    std::string option;  // "-reportDegree"
    const Command* get = nullptr;
    const Command* set = nullptr;
  };
  std::vector<Attribute> attributes;
};

// All descriptors, by command name.
class Registry {
 public:
  Command& Add(Command command);  // replaces one of the same name
  const Command* Find(std::string_view name) const;
  const std::map<std::string, std::unique_ptr<Command>, std::less<>>& All()
      const {
    return commands_;
  }
  ClassRecord& Class(const PointerType& type);  // created on first use
  const std::map<std::string, std::unique_ptr<ClassRecord>>& Classes() const {
    return classes_;
  }

 private:
  std::map<std::string, std::unique_ptr<Command>, std::less<>> commands_;
  std::map<std::string, std::unique_ptr<ClassRecord>> classes_;
};

// Builds the class records (methods and attributes in table order) and
// creates one Tcl command per table row that has a descriptor. Returns the
// registry's names missing from the table (a binding error).
std::vector<std::string> InstallCommands(Tcl_Interp* interp, Registry& registry,
                                         const std::vector<std::string>& table);

// Sets the Tcl result to the pointer string of object; for a type with a
// class and no command of that name yet, creates a non-owning object command.
void SetObjectResult(Tcl_Interp* interp, void* object, const PointerType& type);

// Thrown while building descriptors when a callee does not fit its
// arguments; start-up reports it and aborts.
struct BindingMismatch {
  std::string what;
};

namespace detail {

template <class F>
struct Signature : Signature<decltype(&F::operator())> {};
template <class R, class... A>
struct Signature<R (*)(A...)> {
  using Result = R;
  using Args = std::tuple<A...>;
};
template <class R, class... A>
struct Signature<R(A...)> : Signature<R (*)(A...)> {};
template <class L, class R, class... A>
struct Signature<R (L::*)(A...) const> : Signature<R (*)(A...)> {};
template <class L, class R, class... A>
struct Signature<R (L::*)(A...)> : Signature<R (*)(A...)> {};

// What a callee parameter of type T accepts.
struct ParamInfo {
  ArgKind kind;
  const PointerType* pointer;
};

template <class T>
ParamInfo InfoOf() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<T, int>) {
    return {ArgKind::Int, nullptr};
  } else if constexpr (std::is_same_v<T, bool>) {
    return {ArgKind::Bool, nullptr};
  } else if constexpr (std::is_same_v<T, double>) {
    return {ArgKind::Double, nullptr};
  } else if constexpr (std::is_same_v<T, const char*>) {
    return {ArgKind::Text, nullptr};
  } else if constexpr (std::is_same_v<T, std::string_view>) {
    return {ArgKind::CharArray, nullptr};
  } else if constexpr (std::is_lvalue_reference_v<T> && std::is_class_v<U>) {
    const PointerType& p = TypeOf<U>::Get();
    return {p.className ? ArgKind::Object : ArgKind::List, &p};
  } else {
    static_assert(sizeof(T) == 0, "unsupported callee parameter type");
  }
}

template <class T>
decltype(auto) FromValue(Value& v) {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<T, int>) {
    return static_cast<int>(v.integer);
  } else if constexpr (std::is_same_v<T, bool>) {
    return v.integer != 0;
  } else if constexpr (std::is_same_v<T, double>) {
    return v.real;
  } else if constexpr (std::is_same_v<T, const char*>) {
    return static_cast<const char*>(v.text.c_str());
  } else if constexpr (std::is_same_v<T, std::string_view>) {
    return std::string_view(v.text);
  } else {
    return static_cast<T>(*static_cast<U*>(v.object));
  }
}

void SetIntResult(Tcl_Interp* interp, long value);
void SetDoubleResult(Tcl_Interp* interp, double value);
void SetBoolResult(Tcl_Interp* interp, bool value);
void SetStringResult(Tcl_Interp* interp, const char* text, std::size_t length);
// Registers a fresh or embedded object (parent: self's value) and sets the
// pointer-string result.
void SetNewObjectResult(Tcl_Interp* interp, void* object,
                        const PointerType& type);
void SetMemberObjectResult(Tcl_Interp* interp, void* object,
                           const PointerType& type, const Value& self);

template <class R>
struct IsFresh : std::false_type {};
template <class C>
struct IsFresh<Fresh<C>> : std::true_type {};
template <class R>
struct IsMember : std::false_type {};
template <class C>
struct IsMember<Member<C>> : std::true_type {};

template <class R>
void SetResult(Tcl_Interp* interp, R&& r, Value* values) {
  using T = std::remove_cvref_t<R>;
  if constexpr (std::is_same_v<T, bool>) {
    SetBoolResult(interp, r);
  } else if constexpr (std::is_same_v<T, int>) {
    SetIntResult(interp, r);
  } else if constexpr (std::is_same_v<T, double>) {
    SetDoubleResult(interp, r);
  } else if constexpr (std::is_same_v<T, const char*> ||
                       std::is_same_v<T, char*>) {
    SetStringResult(interp, r ? r : "", r ? std::strlen(r) : 0);
  } else if constexpr (std::is_same_v<T, std::string>) {
    SetStringResult(interp, r.data(), r.size());
  } else if constexpr (IsFresh<T>::value) {
    using C = std::remove_pointer_t<decltype(r.object)>;
    SetNewObjectResult(interp, r.object, TypeOf<C>::Get());
  } else if constexpr (IsMember<T>::value) {
    using C = std::remove_pointer_t<decltype(r.object)>;
    SetMemberObjectResult(interp, r.object, TypeOf<C>::Get(), values[0]);
  } else {
    static_assert(sizeof(T) == 0, "unsupported callee result type");
  }
}

template <class F, class... A, std::size_t... I>
void CallWith(const F& fn, Tcl_Interp* interp, Value* values,
              std::tuple<A...>*, std::index_sequence<I...>) {
  using R = std::invoke_result_t<const F&, A...>;
  if constexpr (std::is_void_v<R>) {
    fn(FromValue<A>(values[I])...);
  } else {
    SetResult(interp, fn(FromValue<A>(values[I])...), values);
  }
}

// Checks the callee's parameters against self and args; throws
// BindingMismatch naming the command on a mismatch.
void CheckParams(const std::string& command, const PointerType* self,
                 const std::vector<Arg>& args,
                 const std::vector<ParamInfo>& params);

template <class... A>
std::vector<ParamInfo> ParamInfos(std::tuple<A...>*) {
  return {InfoOf<A>()...};
}

template <class F>
Form MakeForm(const std::string& command, const PointerType* self,
              std::vector<Arg> args, F fn) {
  using Params = typename Signature<F>::Args;
  CheckParams(command, self, args, ParamInfos(static_cast<Params*>(nullptr)));
  Invoker invoke = [fn = std::move(fn)](Tcl_Interp* interp, Value* values) {
    CallWith(fn, interp, values, static_cast<Params*>(nullptr),
             std::make_index_sequence<std::tuple_size_v<Params>>());
  };
  return Form{std::move(args), std::move(invoke)};
}

// Registers the constructor, destructor and class command of a class.
void AddClassCommands(Registry& registry, const PointerType& type,
                      std::function<void*()> construct,
                      std::function<void(void*)> destroy);

}  // namespace detail

// ---------------------------------------------------------------------------
// Binder of one scripted class C (API or Tech). Creating it registers
// new_C, delete_C and the class command C; then add attributes and methods.
template <class C>
class ClassBinding {
 public:
  explicit ClassBinding(Registry& registry) : registry_(registry) {
    detail::AddClassCommands(
        registry, Type(), []() -> void* { return new C(); },
        [](void* p) { delete static_cast<C*>(p); });
  }

  // Attribute stored in a member of C: int, bool, double, a char array
  // (type CharArray(N, ...) with N its size) or an embedded object (kTechPtr
  // for API::tech: the setter copies the given object into the member, the
  // getter hands out the member itself).
  template <class M>
  void Attribute(const char* name, const ArgType& type, M C::*member) {
    if constexpr (std::is_same_v<M, int> || std::is_same_v<M, bool> ||
                  std::is_same_v<M, double>) {
      AddAttribute(
          name, type, [member](C& c) { return c.*member; },
          [member](C& c, M v) { c.*member = v; }, NullSelf::Ignore);
    } else if constexpr (std::is_array_v<M> &&
                         std::is_same_v<std::remove_extent_t<M>, char>) {
      constexpr std::size_t n = std::extent_v<M>;
      if (type.kind != ArgKind::CharArray || type.arrayLength != n) {
        throw BindingMismatch{std::string(Type().className) + "_" + name +
                              ": char array size differs from its type"};
      }
      AddAttribute(
          name, type,
          [member](C& c) {
            const char* a = c.*member;
            std::size_t len = n;
            while (len > 0 && a[len - 1] == 0) --len;
            return std::string(a, len);
          },
          [member](C& c, std::string_view v) {
            char* a = c.*member;
            std::memcpy(a, v.data(), v.size());
            std::memset(a + v.size(), 0, n - v.size());
          },
          NullSelf::Refuse);
    } else {
      static_assert(std::is_class_v<M>, "unsupported attribute member");
      AddAttribute(
          name, type, [member](C& c) { return Member<M>{&(c.*member)}; },
          [member](C& c, M& v) { c.*member = v; }, NullSelf::Refuse);
    }
  }

  // Attribute with its own accessors: get(C&) -> result, set(C&, value).
  template <class G, class S>
  void Attribute(const char* name, const ArgType& type, G get, S set) {
    AddAttribute(name, type, std::move(get), std::move(set), NullSelf::Refuse);
  }

  // Method command C_<name>: fn(C&, args...) -> result.
  template <class F>
  void Method(const char* name, std::vector<Arg> args, F fn) {
    Command cmd = NewCommand(name, "", CommandRole::Method);
    cmd.forms.push_back(
        detail::MakeForm(cmd.name, &Type(), std::move(args), std::move(fn)));
    Finish(std::move(cmd));
  }

  // One form of an overloaded method (see Overloaded).
  template <class F>
  Form MakeForm(std::vector<Arg> args, F fn) {
    return detail::MakeForm(std::string(Type().className) + " overload",
                            &Type(), std::move(args), std::move(fn));
  }

  // Method command with several forms told apart by their word count; the
  // first form whose count matches and whose words all convert runs.
  void Overloaded(const char* name, std::vector<Form> forms) {
    Command cmd = NewCommand(name, "", CommandRole::Method);
    cmd.forms = std::move(forms);
    Finish(std::move(cmd));
  }

  static const PointerType& Type() { return TypeOf<C>::Get(); }

 private:
  template <class G, class S>
  void AddAttribute(const char* name, const ArgType& type, G get, S set,
                    NullSelf nullSet) {
    Command s = NewCommand(name, "_set", CommandRole::AttributeSet);
    s.nullSelf = nullSet;
    s.forms.push_back(detail::MakeForm(s.name, &Type(), {{name, type}},
                                       std::move(set)));
    Finish(std::move(s));
    Command g = NewCommand(name, "_get", CommandRole::AttributeGet);
    g.forms.push_back(detail::MakeForm(g.name, &Type(), {}, std::move(get)));
    Finish(std::move(g));
  }

  Command NewCommand(const char* memberName, const char* suffix,
                     CommandRole role) {
    Command cmd;
    cmd.name = std::string(Type().className) + "_" + memberName + suffix;
    cmd.role = role;
    cmd.self = &Type();
    cmd.member = memberName;
    return cmd;
  }

  void Finish(Command cmd) {
    cmd.usage = UsageText(cmd.name, true, cmd.forms.front().args);
    registry_.Add(std::move(cmd));
  }

  Registry& registry_;
};

// Binders of the two classes (defined with the classes); the package
// start-up calls them in this order.
void BindTech(Registry& registry);
void BindApi(Registry& registry);

}  // namespace binding
}  // namespace velmar
