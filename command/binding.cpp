// Generic command procedures of the Tcl binding: word conversion, flat
// commands, object commands, class commands and the live-object registry.
#include "command/binding.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <set>

#include "command/fatal.h"
#include "foundation/error.h"
#include "foundation/pool_allocator.h"

namespace velmar {
namespace binding {

const PointerType kApiType{"_p_API", "API *", "API"};
const PointerType kSListType{"_p_SList", "SList *", nullptr};
const PointerType kTechType{"_p_Tech", "Tech *", "Tech"};
const PointerType kCharType{"_p_char", "char *", nullptr};
const PointerType* const kTypeList[4] = {&kApiType, &kSListType, &kTechType,
                                         &kCharType};

// ---------------------------------------------------------------------------
// Live-object registry.

namespace {

using Key = std::pair<uintptr_t, uintptr_t>;  // address, type

Key KeyOf(const void* object, const PointerType& type) {
  return {reinterpret_cast<uintptr_t>(object),
          reinterpret_cast<uintptr_t>(&type)};
}

struct LiveEntry {
  uint64_t serial = 0;  // tells apart objects that reuse an address
  Key parent{0, 0};
  bool hasParent = false;
  bool owned = false;
  std::set<Key> children;
};

// Allocated once and never destroyed: object commands may still consult it
// while the process ends.
std::map<Key, LiveEntry>& LiveObjects() {
  static auto* live = new std::map<Key, LiveEntry>();
  return *live;
}

void UnregisterKey(const Key& key) {
  auto& live = LiveObjects();
  auto it = live.find(key);
  if (it == live.end()) return;
  std::set<Key> children = std::move(it->second.children);
  if (it->second.hasParent) {
    auto p = live.find(it->second.parent);
    if (p != live.end()) p->second.children.erase(key);
  }
  live.erase(it);
  for (const Key& child : children) UnregisterKey(child);
}

const Registry* g_registry = nullptr;

}  // namespace

void RegisterLive(void* object, const PointerType& type, void* parent,
                  const PointerType* parentType) {
  if (object == nullptr) return;
  auto& live = LiveObjects();
  static uint64_t nextSerial = 0;
  Key key = KeyOf(object, type);
  LiveEntry& entry = live[key];
  if (entry.serial == 0) entry.serial = ++nextSerial;
  if (parent != nullptr && parentType != nullptr) {
    Key pkey = KeyOf(parent, *parentType);
    auto p = live.find(pkey);
    if (p != live.end()) {
      entry.parent = pkey;
      entry.hasParent = true;
      entry.owned = false;
      p->second.children.insert(key);
    }
  }
}

void UnregisterLive(void* object, const PointerType& type) {
  UnregisterKey(KeyOf(object, type));
}

bool IsLive(void* object, const PointerType& type) {
  return object != nullptr && LiveObjects().count(KeyOf(object, type)) != 0;
}

uint64_t LiveSerial(void* object, const PointerType& type) {
  auto& live = LiveObjects();
  auto it = live.find(KeyOf(object, type));
  return it == live.end() ? 0 : it->second.serial;
}

bool IsEmbedded(void* object, const PointerType& type) {
  auto& live = LiveObjects();
  auto it = live.find(KeyOf(object, type));
  return it != live.end() && it->second.hasParent;
}

bool Acquire(void* object, const PointerType& type) {
  auto& live = LiveObjects();
  auto it = live.find(KeyOf(object, type));
  if (it == live.end() || it->second.hasParent) return false;
  it->second.owned = true;
  return true;
}

bool Disown(void* object, const PointerType& type) {
  auto& live = LiveObjects();
  auto it = live.find(KeyOf(object, type));
  if (it == live.end() || !it->second.owned) return false;
  it->second.owned = false;
  return true;
}

bool IsOwned(void* object, const PointerType& type) {
  auto& live = LiveObjects();
  auto it = live.find(KeyOf(object, type));
  return it != live.end() && it->second.owned;
}

// ---------------------------------------------------------------------------
// Pointer strings.

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";
}

std::string PointerString(const void* address, const PointerType& type) {
  if (address == nullptr) return "NULL";
  uintptr_t value = reinterpret_cast<uintptr_t>(address);
  unsigned char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  std::string s = "_";
  for (unsigned char b : bytes) {
    s += kHexDigits[b >> 4];
    s += kHexDigits[b & 15];
  }
  s += type.name;
  return s;
}

bool ParsePointerString(std::string_view word, const PointerType& type,
                        void** address) {
  constexpr std::size_t kDigits = 2 * sizeof(uintptr_t);
  if (word.size() < 1 + kDigits || word[0] != '_') return false;
  unsigned char bytes[sizeof(uintptr_t)];
  for (std::size_t i = 0; i < kDigits; ++i) {
    char c = word[1 + i];
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else {
      return false;
    }
    if (i % 2 == 0) {
      bytes[i / 2] = static_cast<unsigned char>(v << 4);
    } else {
      bytes[i / 2] |= static_cast<unsigned char>(v);
    }
  }
  if (word.substr(1 + kDigits) != type.name) return false;
  uintptr_t value;
  std::memcpy(&value, bytes, sizeof value);
  *address = reinterpret_cast<void*>(value);
  return true;
}

// ---------------------------------------------------------------------------
// Word conversion.

namespace {

// Holds one reference to a Tcl object for the lifetime of the holder.
class ObjRef {
 public:
  explicit ObjRef(Tcl_Obj* obj) : obj_(obj) {
    if (obj_) Tcl_IncrRefCount(obj_);
  }
  ~ObjRef() {
    if (obj_) Tcl_DecrRefCount(obj_);
  }
  ObjRef(const ObjRef&) = delete;
  ObjRef& operator=(const ObjRef&) = delete;
  Tcl_Obj* get() const { return obj_; }
  void reset(Tcl_Obj* obj) {
    if (obj) Tcl_IncrRefCount(obj);
    if (obj_) Tcl_DecrRefCount(obj_);
    obj_ = obj;
  }

 private:
  Tcl_Obj* obj_;
};

Conversion ConvertObject(Tcl_Interp* interp, Tcl_Obj* word,
                         const PointerType& type, Value& out) {
  ObjRef current(word);
  for (int depth = 0; depth <= kMaxResolveDepth; ++depth) {
    int length = 0;
    const char* text = Tcl_GetStringFromObj(current.get(), &length);
    std::string_view s(text, static_cast<std::size_t>(length));
    if (!s.empty() && s[0] == '_') {
      void* address = nullptr;
      if (!ParsePointerString(s, type, &address) || !IsLive(address, type)) {
        return Conversion::TypeError;
      }
      out.object = address;
      out.type = &type;
      return Conversion::Ok;
    }
    if (s == "NULL") {
      out.object = nullptr;
      out.type = &type;
      return Conversion::NullObject;
    }
    if (depth == kMaxResolveDepth || interp == nullptr) break;
    // The word may name an object command: ask it for its handle, calling
    // the command by its name with the words "cget" "-this".
    ObjRef cget(Tcl_NewStringObj("cget", -1));
    ObjRef self(Tcl_NewStringObj("-this", -1));
    Tcl_Obj* words[3] = {current.get(), cget.get(), self.get()};
    if (Tcl_EvalObjv(interp, 3, words, 0) != TCL_OK) {
      Tcl_ResetResult(interp);
      return Conversion::TypeError;
    }
    current.reset(Tcl_DuplicateObj(Tcl_GetObjResult(interp)));
    Tcl_ResetResult(interp);
  }
  if (interp) Tcl_ResetResult(interp);
  return Conversion::TypeError;
}

}  // namespace

Conversion ConvertWord(Tcl_Interp* interp, Tcl_Obj* word, const ArgType& type,
                       Value& out) {
  switch (type.kind) {
    case ArgKind::Int: {
      long value = 0;
      if (Tcl_GetLongFromObj(nullptr, word, &value) != TCL_OK) {
        return Conversion::TypeError;
      }
      // Tcl wraps words beyond the signed range of a long into it; the
      // double reading of the word shows the true value.
      double exact = 0.0;
      if (value < INT_MIN || value > INT_MAX ||
          Tcl_GetDoubleFromObj(nullptr, word, &exact) != TCL_OK ||
          exact != static_cast<double>(value)) {
        return Conversion::TypeError;
      }
      out.integer = value;
      return Conversion::Ok;
    }
    case ArgKind::Bool: {
      int value = 0;
      if (Tcl_GetBooleanFromObj(nullptr, word, &value) != TCL_OK) {
        return Conversion::TypeError;
      }
      out.integer = value ? 1 : 0;
      return Conversion::Ok;
    }
    case ArgKind::Double: {
      double value = 0.0;
      if (Tcl_GetDoubleFromObj(nullptr, word, &value) != TCL_OK) {
        return Conversion::TypeError;
      }
      out.real = value;
      return Conversion::Ok;
    }
    case ArgKind::Text:
    case ArgKind::CharArray: {
      int length = 0;
      const char* text = Tcl_GetStringFromObj(word, &length);
      if (type.kind == ArgKind::CharArray &&
          static_cast<std::size_t>(length) > type.arrayLength) {
        return Conversion::TypeError;
      }
      out.text.assign(text, static_cast<std::size_t>(length));
      return Conversion::Ok;
    }
    case ArgKind::Object:
    case ArgKind::List:
      return ConvertObject(interp, word, *type.pointer, out);
  }
  return Conversion::TypeError;
}

// ---------------------------------------------------------------------------
// Results.

namespace detail {

void SetIntResult(Tcl_Interp* interp, long value) {
  Tcl_SetObjResult(interp, Tcl_NewIntObj(static_cast<int>(value)));
}

void SetDoubleResult(Tcl_Interp* interp, double value) {
  Tcl_SetObjResult(interp, Tcl_NewDoubleObj(value));
}

void SetBoolResult(Tcl_Interp* interp, bool value) {
  Tcl_SetObjResult(interp, Tcl_NewBooleanObj(value ? 1 : 0));
}

void SetStringResult(Tcl_Interp* interp, const char* text,
                     std::size_t length) {
  Tcl_SetObjResult(interp,
                   Tcl_NewStringObj(text, static_cast<int>(length)));
}

void SetNewObjectResult(Tcl_Interp* interp, void* object,
                        const PointerType& type) {
  RegisterLive(object, type);
  SetObjectResult(interp, object, type);
}

void SetMemberObjectResult(Tcl_Interp* interp, void* object,
                           const PointerType& type, const Value& self) {
  RegisterLive(object, type, self.object, self.type);
  SetObjectResult(interp, object, type);
}

void CheckParams(const std::string& command, const PointerType* self,
                 const std::vector<Arg>& args,
                 const std::vector<ParamInfo>& params) {
  std::size_t expected = args.size() + (self ? 1 : 0);
  if (params.size() != expected) {
    throw BindingMismatch{command + ": the callee takes " +
                          std::to_string(params.size()) +
                          " parameters, the command gives " +
                          std::to_string(expected)};
  }
  for (std::size_t i = 0; i < params.size(); ++i) {
    ArgKind kind;
    const PointerType* pointer;
    if (self && i == 0) {
      kind = ArgKind::Object;
      pointer = self;
    } else {
      const ArgType& t = args[i - (self ? 1 : 0)].type;
      kind = t.kind;
      pointer = t.pointer;
    }
    bool same = params[i].kind == kind;
    if (same && (kind == ArgKind::Object || kind == ArgKind::List)) {
      same = params[i].pointer == pointer;
    }
    if (!same) {
      throw BindingMismatch{command + ": parameter " + std::to_string(i + 1) +
                            " of the callee does not fit its type"};
    }
  }
}

}  // namespace detail

std::string UsageText(const std::string& name, bool hasSelf,
                      const std::vector<Arg>& args) {
  std::string usage = ":" + name;
  if (hasSelf) usage += " self";
  for (const Arg& a : args) {
    usage += " ";
    usage += a.name;
  }
  usage += " ";
  return usage;
}

// ---------------------------------------------------------------------------
// Flat commands.

namespace {

void SetText(Tcl_Interp* interp, const std::string& text) {
  Tcl_SetObjResult(interp,
                   Tcl_NewStringObj(text.data(), static_cast<int>(text.size())));
}

int Fail(Tcl_Interp* interp, const std::string& text) {
  SetText(interp, text);
  return TCL_ERROR;
}

// "TypeError in method 'X', argument N of type 'T'" and its error code.
int ArgumentError(Tcl_Interp* interp, const char* kind,
                  const std::string& detail, const std::string& command,
                  int position, const char* typeText) {
  Tcl_ResetResult(interp);
  Tcl_SetErrorCode(interp, "SWIG", kind, static_cast<char*>(nullptr));
  std::string prefix = std::string(kind) + " ";
  if (!detail.empty()) prefix += detail + " ";
  return Fail(interp, prefix + "in method '" +
                          command + "', argument " + std::to_string(position) +
                          " of type '" + typeText + "'");
}

ArgType SelfType(const PointerType& type) {
  return ArgType{ArgKind::Object, type.text, 0, &type};
}

const ArgType& WordType(const Command& cmd, const Form& form, std::size_t i,
                        ArgType& selfType) {
  if (cmd.self) {
    if (i == 0) {
      selfType = SelfType(*cmd.self);
      return selfType;
    }
    return form.args[i - 1].type;
  }
  return form.args[i].type;
}

bool IsObjectKind(ArgKind k) {
  return k == ArgKind::Object || k == ArgKind::List;
}

// Runs the single form of a command with its words.
int RunForm(const Command& cmd, const Form& form, Tcl_Interp* interp,
            int objc, Tcl_Obj* const objv[]) {
  const std::size_t names = form.args.size() + (cmd.self ? 1 : 0);
  const int expected = static_cast<int>(names) + 1;
  if (objc < expected) {
    return Fail(interp, "Wrong number of arguments " + cmd.usage +
                            " argument " + std::to_string(objc));
  }
  if (objc > expected) {
    return Fail(interp, "Wrong # args." + cmd.usage + " argument " +
                            std::to_string(expected));
  }

  std::vector<Value> values(names);
  bool nullSelfIgnored = false;
  for (std::size_t i = 0; i < names; ++i) {
    ArgType selfType{};
    const ArgType& type = WordType(cmd, form, i, selfType);
    const int position = static_cast<int>(i) + 1;
    Conversion c = ConvertWord(interp, objv[i + 1], type, values[i]);
    if (c == Conversion::TypeError) {
      return ArgumentError(interp, "TypeError", "", cmd.name, position,
                           type.text);
    }
    if (c == Conversion::NullObject) {
      if (cmd.self && i == 0 && cmd.nullSelf == NullSelf::Ignore) {
        nullSelfIgnored = true;
      } else {
        return ArgumentError(interp, "ValueError", "invalid null reference",
                             cmd.name, position, type.text);
      }
    }
  }
  // Resolving a word may have run script code; every object must still
  // exist when the callee runs.
  for (std::size_t i = 0; i < names; ++i) {
    ArgType selfType{};
    const ArgType& type = WordType(cmd, form, i, selfType);
    if (IsObjectKind(type.kind) && values[i].object != nullptr &&
        !IsLive(values[i].object, *type.pointer)) {
      return ArgumentError(interp, "TypeError", "", cmd.name,
                           static_cast<int>(i) + 1, type.text);
    }
  }
  Tcl_ResetResult(interp);
  if (nullSelfIgnored) return TCL_OK;

  if (cmd.role == CommandRole::Destructor) {
    void* object = values[0].object;
    if (IsEmbedded(object, *cmd.self)) {
      return ArgumentError(interp, "ValueError",
                           "object is part of another object", cmd.name, 1,
                           cmd.self->text);
    }
    Disown(object, *cmd.self);
    cmd.record->destroy(object);
    return TCL_OK;
  }
  form.invoke(interp, values.data());
  return TCL_OK;
}

// Overloaded command: the first form whose word count matches and whose
// words all convert runs.
int RunOverloaded(const Command& cmd, Tcl_Interp* interp, int objc,
                  Tcl_Obj* const objv[]) {
  for (const Form& form : cmd.forms) {
    const std::size_t names = form.args.size() + (cmd.self ? 1 : 0);
    if (objc != static_cast<int>(names) + 1) continue;
    std::vector<Value> values(names);
    bool ok = true;
    for (std::size_t i = 0; i < names && ok; ++i) {
      ArgType selfType{};
      const ArgType& type = WordType(cmd, form, i, selfType);
      ok = ConvertWord(interp, objv[i + 1], type, values[i]) == Conversion::Ok;
    }
    for (std::size_t i = 0; i < names && ok; ++i) {
      ArgType selfType{};
      const ArgType& type = WordType(cmd, form, i, selfType);
      if (IsObjectKind(type.kind)) ok = IsLive(values[i].object, *type.pointer);
    }
    Tcl_ResetResult(interp);
    if (!ok) continue;
    form.invoke(interp, values.data());
    return TCL_OK;
  }
  return Fail(interp, "No matching function for overloaded '" + cmd.name + "'");
}

// Runs the body of a Tcl command procedure; no exception leaves it: errors
// escaping an operation end the process, as nothing may unwind through the
// interpreter.
template <class F>
int Guarded(F body) {
  try {
    return body();
  } catch (const Error& e) {
    ExitOnError(e);
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  } catch (const std::exception& e) {
    ExitWithMessage("ERROR: %s\n", e.what());
  } catch (...) {
    ExitWithMessage("ERROR: %s\n", "unexpected exception");
  }
}

int CommandProc(ClientData clientData, Tcl_Interp* interp, int objc,
                Tcl_Obj* const objv[]) {
  const Command& cmd = *static_cast<const Command*>(clientData);
  return Guarded([&] {
    if (cmd.forms.size() > 1) return RunOverloaded(cmd, interp, objc, objv);
    return RunForm(cmd, cmd.forms.front(), interp, objc, objv);
  });
}

// ---------------------------------------------------------------------------
// Object commands.

struct Instance {
  Tcl_Obj* handle = nullptr;  // one reference held
  void* object = nullptr;
  const ClassRecord* record = nullptr;
  bool owns = false;
  uint64_t serial = 0;  // registry serial of the object when made
  Tcl_Command token = nullptr;
  int busy = 0;          // dispatches running on this record
  bool deleted = false;  // the command is gone; free when no longer busy
};

void FreeInstance(Instance* inst) {
  Tcl_DecrRefCount(inst->handle);
  delete inst;
}

void ObjectCommandDeleted(ClientData clientData) {
  auto* inst = static_cast<Instance*>(clientData);
  // Only the object the command was made for: its address may since have
  // been reused by another object.
  if (inst->owns &&
      LiveSerial(inst->object, *inst->record->type) == inst->serial &&
      Disown(inst->object, *inst->record->type)) {
    inst->record->destroy(inst->object);
  }
  inst->owns = false;
  inst->deleted = true;
  if (inst->busy == 0) FreeInstance(inst);
}

bool IsReservedWord(const std::string& s) {
  return s == "configure" || s == "cget" || s == "-acquire" ||
         s == "-disown" || s == "-delete";
}

int Dispatch(Instance* inst, Tcl_Interp* interp, int objc,
             Tcl_Obj* const objv[]) {
  if (objc < 2) return Fail(interp, "wrong # args.");
  const ClassRecord& rec = *inst->record;
  const std::string word = Tcl_GetString(objv[1]);

  if (word == "-acquire") {
    inst->owns = LiveSerial(inst->object, *rec.type) == inst->serial &&
                 Acquire(inst->object, *rec.type);
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  if (word == "-disown") {
    if (inst->owns) Disown(inst->object, *rec.type);
    inst->owns = false;
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  if (word == "-delete") {
    Tcl_DeleteCommandFromToken(interp, inst->token);
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  ObjRef handle(inst->handle);
  for (const auto& [name, method] : rec.methods) {
    if (name != word) continue;
    std::vector<Tcl_Obj*> words(objv, objv + objc);
    words[1] = handle.get();
    return CommandProc(const_cast<Command*>(method), interp, objc,
                       words.data());
  }
  if (word == "cget") {
    if (objc < 3) return Fail(interp, "wrong # args.");
    const std::string option = Tcl_GetString(objv[2]);
    for (const auto& attr : rec.attributes) {
      if (attr.option != option || attr.get == nullptr) continue;
      Tcl_Obj* words[2] = {objv[0], handle.get()};
      return CommandProc(const_cast<Command*>(attr.get), interp, 2, words);
    }
    if (option == "-this") {
      Tcl_SetObjResult(interp, handle.get());
      return TCL_OK;
    }
    if (option == "-thisown") {
      Tcl_SetObjResult(interp,
                       Tcl_NewStringObj(
                           IsOwned(inst->object, *rec.type) ? "1" : "0", -1));
      return TCL_OK;
    }
    return Fail(interp, "Invalid attribute name.");
  }
  if (word == "configure") {
    // Every option needs its value: check the whole list before setting.
    if (objc < 4 || (objc - 2) % 2 != 0) return Fail(interp, "wrong # args.");
    bool allMatched = true;
    for (int i = 2; i + 1 < objc; i += 2) {
      const std::string option = Tcl_GetString(objv[i]);
      const ClassRecord::Attribute* found = nullptr;
      for (const auto& attr : rec.attributes) {
        if (attr.option == option && attr.set != nullptr) {
          found = &attr;
          break;
        }
      }
      if (found == nullptr) {
        allMatched = false;
        continue;
      }
      Tcl_Obj* words[3] = {objv[i - 1], handle.get(), objv[i + 1]};
      if (CommandProc(const_cast<Command*>(found->set), interp, 3, words) !=
          TCL_OK) {
        return TCL_ERROR;
      }
    }
    if (!allMatched) return Fail(interp, "Invalid attribute name.");
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp,
                   "Invalid method. Must be one of: configure cget -acquire "
                   "-disown -delete",
                   static_cast<char*>(nullptr));
  for (const auto& method : rec.methods) {
    if (!IsReservedWord(method.first)) {
      Tcl_AppendElement(interp, method.first.c_str());
    }
  }
  return TCL_ERROR;
}

int ObjectCommandProc(ClientData clientData, Tcl_Interp* interp, int objc,
                      Tcl_Obj* const objv[]) {
  auto* inst = static_cast<Instance*>(clientData);
  ++inst->busy;
  int rc = Guarded([&] { return Dispatch(inst, interp, objc, objv); });
  if (--inst->busy == 0 && inst->deleted) FreeInstance(inst);
  return rc;
}

void MakeInstance(Tcl_Interp* interp, const char* name, Tcl_Obj* handle,
                  void* object, const ClassRecord& record, bool owns) {
  auto* inst = new Instance;
  inst->handle = handle;
  Tcl_IncrRefCount(handle);
  inst->object = object;
  inst->record = &record;
  inst->serial = LiveSerial(object, *record.type);
  // A command of the same name is deleted first (its deletion may destroy
  // the object it owns); only then does the new command take ownership.
  inst->token = Tcl_CreateObjCommand(interp, name, ObjectCommandProc, inst,
                                     ObjectCommandDeleted);
  inst->owns = owns && LiveSerial(object, *record.type) == inst->serial &&
               Acquire(object, *record.type);
}

const ClassRecord* FindClass(const PointerType& type) {
  if (g_registry == nullptr || type.className == nullptr) return nullptr;
  auto it = g_registry->Classes().find(type.className);
  return it == g_registry->Classes().end() ? nullptr : it->second.get();
}

// ---------------------------------------------------------------------------
// Class commands.

int ClassCommandBody(const ClassRecord& rec, Tcl_Interp* interp, int objc,
                     Tcl_Obj* const objv[]) {
  auto is = [&](int i, const char* s) {
    return i < objc && std::strcmp(Tcl_GetString(objv[i]), s) == 0;
  };
  bool construct = false;
  int ctorFrom = 0;
  Tcl_Obj* name = nullptr;  // null: named by the new pointer string
  int handleAt = -1;
  if (objc == 1) {
    construct = true;
  } else if (is(1, "-this")) {
    handleAt = 2;
  } else if (is(1, "-args")) {
    construct = true;
    ctorFrom = 1;
  } else if (objc == 2) {
    name = objv[1];
    construct = true;
    ctorFrom = 1;
  } else {
    name = objv[1];
    if (is(2, "-this")) {
      handleAt = 3;
    } else {
      construct = true;
      ctorFrom = 1;
    }
  }

  ObjRef handle(nullptr);
  if (construct) {
    if (rec.constructor == nullptr) return Fail(interp, "No constructor");
    if (CommandProc(const_cast<Command*>(rec.constructor), interp,
                    objc - ctorFrom, objv + ctorFrom) != TCL_OK) {
      return TCL_ERROR;
    }
    handle.reset(Tcl_DuplicateObj(Tcl_GetObjResult(interp)));
  } else {
    if (handleAt >= objc) return Fail(interp, "wrong # args.");
    handle.reset(objv[handleAt]);
    Tcl_ResetResult(interp);
  }

  Value value;
  if (ConvertWord(interp, handle.get(), SelfType(*rec.type), value) !=
          Conversion::Ok ||
      !IsLive(value.object, *rec.type)) {
    return TCL_ERROR;
  }
  if (construct) Tcl_SetObjResult(interp, handle.get());
  const char* commandName =
      Tcl_GetString(name != nullptr ? name : handle.get());
  MakeInstance(interp, commandName, handle.get(), value.object, rec,
               construct);
  return TCL_OK;
}

int ClassCommandProc(ClientData clientData, Tcl_Interp* interp, int objc,
                     Tcl_Obj* const objv[]) {
  const ClassRecord& rec = *static_cast<const ClassRecord*>(clientData);
  return Guarded([&] { return ClassCommandBody(rec, interp, objc, objv); });
}

}  // namespace

void SetObjectResult(Tcl_Interp* interp, void* object,
                     const PointerType& type) {
  std::string name = PointerString(object, type);
  if (object != nullptr) {
    if (const ClassRecord* rec = FindClass(type)) {
      Tcl_CmdInfo info;
      if (!Tcl_GetCommandInfo(interp, name.c_str(), &info)) {
        MakeInstance(interp, name.c_str(),
                     Tcl_NewStringObj(name.data(),
                                      static_cast<int>(name.size())),
                     object, *rec, false);
      }
    }
  }
  SetText(interp, name);
}

// ---------------------------------------------------------------------------
// Registry and installation.

Command& Registry::Add(Command command) {
  auto owned = std::make_unique<Command>(std::move(command));
  Command& ref = *owned;
  commands_[ref.name] = std::move(owned);
  return ref;
}

const Command* Registry::Find(std::string_view name) const {
  auto it = commands_.find(name);
  return it == commands_.end() ? nullptr : it->second.get();
}

ClassRecord& Registry::Class(const PointerType& type) {
  auto& slot = classes_[type.className];
  if (!slot) {
    slot = std::make_unique<ClassRecord>();
    slot->name = type.className;
    slot->type = &type;
  }
  return *slot;
}

namespace detail {

void AddClassCommands(Registry& registry, const PointerType& type,
                      std::function<void*()> construct,
                      std::function<void(void*)> destroy) {
  ClassRecord& rec = registry.Class(type);
  const PointerType* t = &type;
  rec.destroy = [t, destroy = std::move(destroy)](void* object) {
    if (object == nullptr) return;
    UnregisterLive(object, *t);
    destroy(object);
  };

  Command ctor;
  ctor.name = std::string("new_") + type.className;
  ctor.role = CommandRole::Constructor;
  ctor.record = &rec;
  ctor.forms.push_back(
      Form{{}, [t, construct = std::move(construct)](Tcl_Interp* interp,
                                                      Value*) {
             SetNewObjectResult(interp, construct(), *t);
           }});
  ctor.usage = UsageText(ctor.name, false, {});
  rec.constructor = &registry.Add(std::move(ctor));

  Command dtor;
  dtor.name = std::string("delete_") + type.className;
  dtor.role = CommandRole::Destructor;
  dtor.self = &type;
  dtor.nullSelf = NullSelf::Ignore;
  dtor.record = &rec;
  dtor.forms.push_back(Form{{}, nullptr});
  dtor.usage = UsageText(dtor.name, true, {});
  registry.Add(std::move(dtor));

  Command cls;
  cls.name = type.className;
  cls.role = CommandRole::ClassCommand;
  cls.record = &rec;
  registry.Add(std::move(cls));
}

}  // namespace detail

std::vector<std::string> InstallCommands(Tcl_Interp* interp, Registry& registry,
                                         const std::vector<std::string>& table) {
  std::map<std::string, std::size_t, std::less<>> position;
  for (std::size_t i = 0; i < table.size(); ++i) position.emplace(table[i], i);

  std::vector<std::string> unknown;
  for (const auto& [name, cmd] : registry.All()) {
    if (!position.count(name)) unknown.push_back(name);
  }

  // Class records: methods and attributes in table order.
  for (const auto& [className, rec] : registry.Classes()) {
    rec->methods.clear();
    rec->attributes.clear();
  }
  for (const std::string& name : table) {
    const Command* cmd = registry.Find(name);
    if (cmd == nullptr || cmd->self == nullptr ||
        cmd->self->className == nullptr) {
      continue;
    }
    ClassRecord& rec = registry.Class(*cmd->self);
    if (cmd->role == CommandRole::Method) {
      rec.methods.emplace_back(cmd->member, cmd);
    } else if (cmd->role == CommandRole::AttributeSet ||
               cmd->role == CommandRole::AttributeGet) {
      const std::string option = "-" + cmd->member;
      ClassRecord::Attribute* attr = nullptr;
      for (auto& a : rec.attributes) {
        if (a.option == option) attr = &a;
      }
      if (attr == nullptr) {
        rec.attributes.push_back({option, nullptr, nullptr});
        attr = &rec.attributes.back();
      }
      (cmd->role == CommandRole::AttributeSet ? attr->set : attr->get) = cmd;
    }
  }
  g_registry = &registry;

  for (const std::string& name : table) {
    const Command* cmd = registry.Find(name);
    if (cmd == nullptr) continue;
    if (cmd->role == CommandRole::ClassCommand) {
      Tcl_CreateObjCommand(interp, name.c_str(), ClassCommandProc,
                           cmd->record, nullptr);
    } else {
      Tcl_CreateObjCommand(interp, name.c_str(), CommandProc,
                           const_cast<Command*>(cmd), nullptr);
    }
  }
  return unknown;
}

}  // namespace binding
}  // namespace velmar
