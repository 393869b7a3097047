// The table-driven Tcl binding, exercised through two small test classes:
// word conversion, pointer strings and the live-object registry, flat
// commands and their error texts, object commands and class commands.
#include "command/binding.h"

#include <gtest/gtest.h>
#include <tcl.h>

#include <unistd.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/error.h"

namespace velmar {

struct Gadget {
  int size = 3;
};

struct Widget {
  int count = 5;
  bool flag = false;
  double ratio = 1.5;
  char label[8] = {};
  Gadget part;
  static int destroyed;
  ~Widget() { ++destroyed; }
};
int Widget::destroyed = 0;

namespace binding {

const PointerType kWidgetType{"_p_Widget", "Widget *", "Widget"};
const PointerType kGadgetType{"_p_Gadget", "Gadget *", "Gadget"};
template <>
struct TypeOf<Widget> {
  static const PointerType& Get() { return kWidgetType; }
};
template <>
struct TypeOf<Gadget> {
  static const PointerType& Get() { return kGadgetType; }
};
inline constexpr ArgType kGadgetPtr{ArgKind::Object, "Gadget *", 0,
                                    &kGadgetType};

namespace {

// Tcl's subsystems must be set up before the first Tcl object exists.
const bool kTclReady = (Tcl_FindExecutable(nullptr), true);

const std::vector<std::string> kTable = {
    "Gadget_size_set", "Gadget_size_get", "new_Gadget", "delete_Gadget",
    "Gadget",          "Widget_count_set", "Widget_count_get",
    "Widget_flag_set", "Widget_flag_get",  "Widget_ratio_set",
    "Widget_ratio_get", "Widget_label_set", "Widget_label_get",
    "Widget_part_set", "Widget_part_get",  "new_Widget",
    "Widget_Add",      "Widget_Name",      "Widget_Sum",
    "Widget_Fail",     "Widget_Unbound",   "delete_Widget",
    "Widget"};

void Bind(Registry& r) {
  ClassBinding<Gadget> g(r);
  g.Attribute("size", kInt, &Gadget::size);
  ClassBinding<Widget> w(r);
  // Methods bound out of table order: the object command lists them in
  // table order all the same.
  w.Method("Fail", {{"how", kInt}}, [](Widget&, int how) {
    if (how == 0) throw Error("broken cell", "LIBIN");
    if (how == 1) throw std::bad_alloc();
    throw std::runtime_error("odd");
  });
  w.Overloaded(
      "Sum",
      {w.MakeForm({{"a", kInt}}, [](Widget& x, int a) { return x.count + a; }),
       w.MakeForm({{"a", kInt}, {"b", kInt}},
                  [](Widget& x, int a, int b) { return x.count + a + b; })});
  w.Method("Name", {{"prefix", kCharConstPtr}}, [](Widget&, const char* p) {
    return std::string(p) + "-w";
  });
  w.Method("Add", {{"a", kInt}, {"g", kGadgetPtr}},
           [](Widget& x, int a, Gadget& g) { return x.count + a + g.size; });
  w.Attribute("count", kInt, &Widget::count);
  w.Attribute("flag", kBool, &Widget::flag);
  w.Attribute("ratio", kDouble, &Widget::ratio);
  w.Attribute("label", CharArray(8, "char [8]"), &Widget::label);
  w.Attribute("part", kGadgetPtr, &Widget::part);
}

class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kTclReady);
    interp_ = Tcl_CreateInterp();
    Bind(registry_);
    unknown_ = InstallCommands(interp_, registry_, kTable);
  }
  void TearDown() override { Tcl_DeleteInterp(interp_); }

  // Evaluates a script; returns the result, sets code_.
  std::string Eval(const std::string& script) {
    code_ = Tcl_Eval(interp_, script.c_str());
    return Tcl_GetStringResult(interp_);
  }
  std::string Ok(const std::string& script) {
    std::string r = Eval(script);
    EXPECT_EQ(code_, TCL_OK) << script << " -> " << r;
    return r;
  }
  std::string Err(const std::string& script) {
    std::string r = Eval(script);
    EXPECT_EQ(code_, TCL_ERROR) << script << " -> " << r;
    return r;
  }
  std::string ErrorCode() {
    const char* c = Tcl_GetVar(interp_, "errorCode", TCL_GLOBAL_ONLY);
    return c ? c : "";
  }

  Tcl_Interp* interp_ = nullptr;
  Registry registry_;
  std::vector<std::string> unknown_;
  int code_ = TCL_OK;
};

TEST(ConvertWordTest, ScalarWords) {
  struct Case {
    ArgType type;
    const char* word;
    Conversion expect;
    long integer;
    double real;
  };
  const Case cases[] = {
      {kInt, "12", Conversion::Ok, 12, 0},
      {kInt, "-2147483648", Conversion::Ok, INT_MIN, 0},
      {kInt, "2147483647", Conversion::Ok, INT_MAX, 0},
      {kInt, "0x10", Conversion::Ok, 16, 0},
      {kInt, "2147483648", Conversion::TypeError, 0, 0},
      {kInt, "-2147483649", Conversion::TypeError, 0, 0},
      {kInt, "4294967295", Conversion::TypeError, 0, 0},
      // Beyond a 64-bit long: Tcl would wrap it to -1.
      {kInt, "18446744073709551615", Conversion::TypeError, 0, 0},
      {kInt, "-18446744073709551615", Conversion::TypeError, 0, 0},
      {kInt, "1.5", Conversion::TypeError, 0, 0},
      {kInt, "one", Conversion::TypeError, 0, 0},
      {kInt, "", Conversion::TypeError, 0, 0},
      {kBool, "yes", Conversion::Ok, 1, 0},
      {kBool, "0", Conversion::Ok, 0, 0},
      {kBool, "7", Conversion::Ok, 1, 0},
      {kBool, "maybe", Conversion::TypeError, 0, 0},
      {kDouble, "2.5", Conversion::Ok, 0, 2.5},
      {kDouble, "-3", Conversion::Ok, 0, -3},
      {kDouble, "x", Conversion::TypeError, 0, 0},
  };
  for (const Case& c : cases) {
    Tcl_Obj* w = Tcl_NewStringObj(c.word, -1);
    Tcl_IncrRefCount(w);
    Value v;
    EXPECT_EQ(ConvertWord(nullptr, w, c.type, v), c.expect)
        << c.type.text << " " << c.word;
    if (c.expect == Conversion::Ok) {
      EXPECT_EQ(v.integer, c.integer) << c.word;
      EXPECT_EQ(v.real, c.real) << c.word;
    }
    Tcl_DecrRefCount(w);
  }
}

TEST(ConvertWordTest, CharArrayLengthLimit) {
  const ArgType t = CharArray(128, "char [128]");
  for (std::size_t len : {0u, 1u, 127u, 128u, 129u, 1000u}) {
    std::string text(len, 'q');
    Tcl_Obj* w = Tcl_NewStringObj(text.c_str(), -1);
    Tcl_IncrRefCount(w);
    Value v;
    Conversion c = ConvertWord(nullptr, w, t, v);
    EXPECT_EQ(c, len <= 128 ? Conversion::Ok : Conversion::TypeError) << len;
    if (c == Conversion::Ok) {
      EXPECT_EQ(v.text, text);
    }
    Tcl_DecrRefCount(w);
    // Plain text arguments take any length.
    w = Tcl_NewStringObj(text.c_str(), -1);
    Tcl_IncrRefCount(w);
    EXPECT_EQ(ConvertWord(nullptr, w, kCharPtr, v), Conversion::Ok);
    Tcl_DecrRefCount(w);
  }
}

TEST(PointerStringTest, FormatAndParse) {
  int object = 0;
  std::string s = PointerString(&object, kTechType);
  ASSERT_EQ(s.size(), 1 + 2 * sizeof(void*) + std::strlen("_p_Tech"));
  EXPECT_EQ(s.front(), '_');
  EXPECT_EQ(s.substr(s.size() - 7), "_p_Tech");
  // Memory order: the first byte in memory comes first.
  uintptr_t value = reinterpret_cast<uintptr_t>(&object);
  unsigned char first;
  std::memcpy(&first, &value, 1);
  char expect[3];
  std::snprintf(expect, sizeof expect, "%02x", first);
  EXPECT_EQ(s.substr(1, 2), expect);

  void* back = nullptr;
  EXPECT_TRUE(ParsePointerString(s, kTechType, &back));
  EXPECT_EQ(back, &object);
  EXPECT_FALSE(ParsePointerString(s, kApiType, &back));
  std::string upper = s;
  for (std::size_t i = 1; i <= 2 * sizeof(void*); ++i) {
    upper[i] = static_cast<char>(std::toupper(upper[i]));
  }
  if (upper != s) {
    EXPECT_FALSE(ParsePointerString(upper, kTechType, &back));
  }
  EXPECT_FALSE(ParsePointerString("_1234_p_Tech", kTechType, &back));
  EXPECT_FALSE(ParsePointerString(s + "x", kTechType, &back));
  EXPECT_FALSE(ParsePointerString("NULL", kTechType, &back));
  EXPECT_EQ(PointerString(nullptr, kTechType), "NULL");
}

TEST(LiveRegistryTest, TypedEntriesAndEmbeddedChildren) {
  struct Outer {
    int inner;
  } outer{};
  void* o = &outer;
  void* in = &outer.inner;  // same address, other type
  RegisterLive(o, kApiType);
  RegisterLive(in, kTechType, o, &kApiType);
  EXPECT_TRUE(IsLive(o, kApiType));
  EXPECT_TRUE(IsLive(in, kTechType));
  EXPECT_FALSE(IsLive(o, kSListType));
  EXPECT_TRUE(IsEmbedded(in, kTechType));
  EXPECT_FALSE(Acquire(in, kTechType));  // an embedded object is never owned
  EXPECT_TRUE(Acquire(o, kApiType));
  EXPECT_TRUE(IsOwned(o, kApiType));
  EXPECT_FALSE(IsOwned(in, kTechType));
  EXPECT_TRUE(Disown(o, kApiType));
  EXPECT_FALSE(Disown(o, kApiType));
  UnregisterLive(o, kApiType);
  EXPECT_FALSE(IsLive(o, kApiType));
  EXPECT_FALSE(IsLive(in, kTechType));  // went with its owner
  EXPECT_FALSE(Acquire(o, kApiType));
}

TEST_F(BindingTest, EveryBoundCommandIsInTheTable) {
  EXPECT_TRUE(unknown_.empty());
  Tcl_CmdInfo info;
  EXPECT_FALSE(Tcl_GetCommandInfo(interp_, "Widget_Unbound", &info));
  EXPECT_TRUE(Tcl_GetCommandInfo(interp_, "Widget_Add", &info));
}

TEST_F(BindingTest, WordCountErrors) {
  std::string w = Ok("new_Widget");
  EXPECT_EQ(Err("Widget_Add " + w + " 1"),
            "Wrong number of arguments :Widget_Add self a g  argument 3");
  EXPECT_EQ(Err("Widget_Add"),
            "Wrong number of arguments :Widget_Add self a g  argument 1");
  EXPECT_EQ(Err("Widget_Add " + w + " 1 2 3"),
            "Wrong # args.:Widget_Add self a g  argument 4");
  EXPECT_EQ(Err("new_Widget x"), "Wrong # args.:new_Widget  argument 1");
  EXPECT_EQ(Err("delete_Widget"),
            "Wrong number of arguments :delete_Widget self  argument 1");
  EXPECT_NE(ErrorCode().find("NONE"), std::string::npos);
}

TEST_F(BindingTest, ArgumentTypeErrors) {
  std::string w = Ok("new_Widget");
  std::string g = Ok("new_Gadget");
  struct Case {
    std::string script;
    std::string message;
  };
  const Case cases[] = {
      {"Widget_Add " + w + " one " + g,
       "TypeError in method 'Widget_Add', argument 2 of type 'int'"},
      {"Widget_Add " + w + " 1 " + w,
       "TypeError in method 'Widget_Add', argument 3 of type 'Gadget *'"},
      {"Widget_Add " + g + " 1 " + g,
       "TypeError in method 'Widget_Add', argument 1 of type 'Widget *'"},
      {"Widget_Add nosuchcommand 1 " + g,
       "TypeError in method 'Widget_Add', argument 1 of type 'Widget *'"},
      {"Widget_flag_set " + w + " maybe",
       "TypeError in method 'Widget_flag_set', argument 2 of type 'bool'"},
      {"Widget_ratio_set " + w + " x",
       "TypeError in method 'Widget_ratio_set', argument 2 of type 'double'"},
      {"Widget_label_set " + w + " 123456789",
       "TypeError in method 'Widget_label_set', argument 2 of type 'char [8]'"},
      {"Widget_count_set " + w + " 99999999999",
       "TypeError in method 'Widget_count_set', argument 2 of type 'int'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Err(c.script), c.message) << c.script;
    EXPECT_EQ(ErrorCode(), "SWIG TypeError") << c.script;
  }
  // Nothing changed by the refused words.
  EXPECT_EQ(Ok("Widget_count_get " + w), "5");
  EXPECT_EQ(Ok("Widget_label_get " + w), "");
}

TEST_F(BindingTest, ForgedCapitalWrongClassAndStaleHandles) {
  std::string w = Ok("new_Widget");
  const std::string msg =
      "TypeError in method 'Widget_count_get', argument 1 of type 'Widget *'";
  // A well-formed handle of an address that holds no Widget.
  std::string forged = "_" + std::string(2 * sizeof(void*), '0');
  forged[1] = '8';
  forged += "_p_Widget";
  EXPECT_EQ(Err("Widget_count_get " + forged), msg);
  std::string upper = w;
  bool changed = false;
  for (std::size_t i = 1; i <= 2 * sizeof(void*); ++i) {
    if (upper[i] >= 'a' && upper[i] <= 'f') {
      upper[i] = static_cast<char>(upper[i] - 'a' + 'A');
      changed = true;
    }
  }
  if (changed) {
    EXPECT_EQ(Err("Widget_count_get " + upper), msg);
  }
  EXPECT_EQ(Ok("Widget_count_get " + w), "5");
  Ok("delete_Widget " + w);
  EXPECT_EQ(Err("Widget_count_get " + w), msg);  // stale
  EXPECT_EQ(ErrorCode(), "SWIG TypeError");
  // The object command named by the old handle stays, but cannot reach it.
  EXPECT_EQ(Err(w + " cget -count"), msg);
  EXPECT_EQ(Err("delete_Widget " + w),
            "TypeError in method 'delete_Widget', argument 1 of type "
            "'Widget *'");
}

TEST_F(BindingTest, NullObjects) {
  Ok("Widget_count_set NULL 4");  // scalar setters ignore a null object
  Ok("delete_Widget NULL");
  EXPECT_EQ(Err("Widget_count_get NULL"),
            "ValueError invalid null reference in method 'Widget_count_get', "
            "argument 1 of type 'Widget *'");
  EXPECT_EQ(ErrorCode(), "SWIG ValueError");
  EXPECT_EQ(Err("Widget_label_set NULL ab"),
            "ValueError invalid null reference in method 'Widget_label_set', "
            "argument 1 of type 'Widget *'");
  std::string w = Ok("new_Widget");
  EXPECT_EQ(Err("Widget_part_set " + w + " NULL"),
            "ValueError invalid null reference in method 'Widget_part_set', "
            "argument 2 of type 'Gadget *'");
  // A bad later word is still reported with a null object.
  EXPECT_EQ(Err("Widget_count_set NULL x"),
            "TypeError in method 'Widget_count_set', argument 2 of type 'int'");
}

TEST_F(BindingTest, ResultsAndCharArrays) {
  std::string w = Ok("new_Widget");
  EXPECT_EQ(Ok("Widget_ratio_get " + w), "1.5");
  Ok("Widget_flag_set " + w + " yes");
  EXPECT_EQ(Ok("Widget_flag_get " + w), "1");
  EXPECT_EQ(Ok("Widget_Name " + w + " {a b}"), "a b-w");
  Ok("Widget_label_set " + w + " 12345678");  // exactly the array size
  EXPECT_EQ(Ok("Widget_label_get " + w), "12345678");
  Ok("Widget_label_set " + w + " ab");
  EXPECT_EQ(Ok("Widget_label_get " + w), "ab");
  EXPECT_EQ(Ok("Widget_Sum " + w + " 1"), "6");
  EXPECT_EQ(Ok("Widget_Sum " + w + " 1 2"), "8");
  EXPECT_EQ(Err("Widget_Sum " + w), "No matching function for overloaded "
                                    "'Widget_Sum'");
  EXPECT_EQ(Err("Widget_Sum " + w + " 1 x"),
            "No matching function for overloaded 'Widget_Sum'");
  EXPECT_EQ(Err("Widget_Sum NULL 1"),
            "No matching function for overloaded 'Widget_Sum'");
}

TEST_F(BindingTest, EmbeddedObjectLivesWithItsOwner) {
  std::string w = Ok("new_Widget");
  std::string p = Ok("Widget_part_get " + w);
  EXPECT_NE(p.find("_p_Gadget"), std::string::npos);
  EXPECT_EQ(Ok("Gadget_size_get " + p), "3");
  std::string g = Ok("new_Gadget");
  Ok("Gadget_size_set " + g + " 9");
  Ok("Widget_part_set " + w + " " + g);  // copies into the member
  EXPECT_EQ(Ok("Gadget_size_get " + p), "9");
  EXPECT_EQ(Ok("Widget_Add " + w + " 1 " + p), "15");
  // The member cannot be deleted on its own, nor owned by a command.
  EXPECT_EQ(Err("delete_Gadget " + p),
            "ValueError object is part of another object in method "
            "'delete_Gadget', argument 1 of type 'Gadget *'");
  Ok(p + " -acquire");
  EXPECT_EQ(Ok(p + " cget -thisown"), "0");
  Ok("delete_Widget " + w);
  EXPECT_EQ(Err("Gadget_size_get " + p),
            "TypeError in method 'Gadget_size_get', argument 1 of type "
            "'Gadget *'");
}

TEST_F(BindingTest, ObjectCommandForms) {
  std::string w = Ok("Widget t");
  EXPECT_NE(w.find("_p_Widget"), std::string::npos);
  EXPECT_EQ(Ok("t cget -count"), "5");
  EXPECT_EQ(Ok("t cget -this"), w);
  EXPECT_EQ(Ok("t cget -thisown"), "1");
  EXPECT_EQ(Ok(w + " cget -thisown"), "1");  // same object, same registry
  EXPECT_EQ(Err("t cget -bogus"), "Invalid attribute name.");
  EXPECT_EQ(Err("t cget"), "wrong # args.");
  EXPECT_EQ(Err("t"), "wrong # args.");
  Ok("t configure -count 10 -ratio 2.25");
  EXPECT_EQ(Ok("t cget -count"), "10");
  EXPECT_EQ(Ok("t cget -ratio"), "2.25");
  EXPECT_EQ(Err("t configure -count 20 -bogus 1"), "Invalid attribute name.");
  EXPECT_EQ(Ok("t cget -count"), "20");
  // An option without its value: refused before anything is set.
  EXPECT_EQ(Err("t configure -count 30 -ratio"), "wrong # args.");
  EXPECT_EQ(Err("t configure -count"), "wrong # args.");
  EXPECT_EQ(Ok("t cget -count"), "20");
  EXPECT_EQ(Err("t configure -count x"),
            "TypeError in method 'Widget_count_set', argument 2 of type 'int'");
  // Methods through the object command, and through a command name as self.
  std::string g = Ok("new_Gadget");
  EXPECT_EQ(Ok("t Add 1 " + g), "24");
  EXPECT_EQ(Ok("Widget_Add t 1 " + g), "24");
  EXPECT_EQ(Ok("t Sum 1 2"), "23");
  EXPECT_EQ(Err("t Add 1"),
            "Wrong number of arguments :Widget_Add self a g  argument 3");
  EXPECT_EQ(Err("t Foo"),
            "Invalid method. Must be one of: configure cget -acquire -disown "
            "-delete Add Name Sum Fail");
  // Ownership.
  int before = Widget::destroyed;
  Ok("t -disown");
  EXPECT_EQ(Ok("t cget -thisown"), "0");
  Ok("t -delete");
  EXPECT_EQ(Widget::destroyed, before);
  Tcl_CmdInfo info;
  EXPECT_FALSE(Tcl_GetCommandInfo(interp_, "t", &info));
  EXPECT_EQ(Ok(w + " cget -count"), "20");  // object still alive
  Ok(w + " -acquire");
  Ok("rename " + w + " {}");
  EXPECT_EQ(Widget::destroyed, before + 1);
}

TEST_F(BindingTest, NewObjectCommandIsNotOwning) {
  int before = Widget::destroyed;
  std::string p = Ok("new_Widget");
  EXPECT_EQ(Ok(p + " cget -thisown"), "0");
  Ok(p + " -delete");
  EXPECT_EQ(Widget::destroyed, before);
  EXPECT_EQ(Ok("Widget_count_get " + p), "5");
  Ok("delete_Widget " + p);
  EXPECT_EQ(Widget::destroyed, before + 1);
}

TEST_F(BindingTest, ClassCommandForms) {
  int before = Widget::destroyed;
  // No name: one owning command named by the pointer string.
  std::string a = Ok("Widget");
  EXPECT_EQ(Ok(a + " cget -thisown"), "1");
  std::string b = Ok("Widget -args");
  EXPECT_EQ(Ok(b + " cget -thisown"), "1");
  EXPECT_EQ(Err("Widget x y"), "Wrong # args.:new_Widget  argument 1");
  // Wrapping an existing object.
  EXPECT_EQ(Err("Widget x -this"), "wrong # args.");
  EXPECT_EQ(Err("Widget -this"), "wrong # args.");
  std::string g = Ok("new_Gadget");
  EXPECT_EQ(Err("Widget x -this " + g), "");
  EXPECT_EQ(Err("Widget x -this NULL"), "");
  Ok("Widget x -this " + a);
  EXPECT_EQ(Ok("x cget -thisown"), "1");  // a's command owns it
  EXPECT_EQ(Ok("x cget -this"), a);
  Ok("x -delete");  // not owning: object stays
  EXPECT_EQ(Widget::destroyed, before);
  // A wrapper replacing the owning command of the same name: the owning
  // command's deletion destroys the object, the wrapper cannot reach it.
  Ok("Widget -this " + b);
  EXPECT_EQ(Widget::destroyed, before + 1);
  EXPECT_EQ(Err(b + " cget -count"),
            "TypeError in method 'Widget_count_get', argument 1 of type "
            "'Widget *'");
  Ok("rename " + a + " {}");
  EXPECT_EQ(Widget::destroyed, before + 2);
  // A wrapper made through a command name resolves that name on each use.
  Ok("Widget named");
  Ok("Widget y -this named");
  EXPECT_EQ(Ok("y cget -count"), "5");
  Ok("named -delete");
  EXPECT_EQ(Widget::destroyed, before + 3);
  EXPECT_EQ(Err("y cget -count"),
            "TypeError in method 'Widget_count_get', argument 1 of type "
            "'Widget *'");
}

TEST_F(BindingTest, StaleOwningCommandSparesANewObjectAtTheSameAddress) {
  int before = Widget::destroyed;
  std::string h = Ok("Widget");  // owning command named by the handle
  Ok("delete_Widget " + h);      // object gone, command stays
  EXPECT_EQ(Widget::destroyed, before + 1);
  // The allocator usually hands the same address to the next Widget; the
  // handle string is then the same and names the new object.
  std::string h2 = Ok("new_Widget");
  Ok("Widget_count_set " + h2 + " 12");
  Ok(h + " -acquire");  // the stale command cannot take the new object
  Ok("rename " + h + " {}");
  EXPECT_EQ(Widget::destroyed, before + 1);
  EXPECT_EQ(Ok("Widget_count_get " + h2), "12");
  // A class command at a reused address: the replaced stale command does not
  // destroy the object that the new command owns.
  std::string h3 = Ok("Widget");
  Ok("delete_Widget " + h3);
  std::string h4 = Ok("Widget");
  EXPECT_EQ(Widget::destroyed, before + 2);
  EXPECT_EQ(Ok(h4 + " cget -thisown"), "1");
  EXPECT_EQ(Ok("Widget_count_get " + h4), "5");
}

TEST_F(BindingTest, ResolvingLoopsEnd) {
  // A command whose "cget -this" names itself again.
  Ok("proc loop {args} { return loop }");
  EXPECT_EQ(Err("Widget_count_get loop"),
            "TypeError in method 'Widget_count_get', argument 1 of type "
            "'Widget *'");
}

TEST_F(BindingTest, ObjectDeletedWhileWordsAreResolved) {
  // Resolving the last word deletes the object named by the first one.
  std::string w = Ok("new_Widget");
  std::string g = Ok("new_Gadget");
  Ok("proc sneaky {args} { delete_Widget " + w + "; return " + g + " }");
  EXPECT_EQ(Err("Widget_Add " + w + " 1 sneaky"),
            "TypeError in method 'Widget_Add', argument 1 of type "
            "'Widget *'");
}

TEST_F(BindingTest, ExceptionsFromAnOperationEndTheProcess) {
  std::string w = Ok("new_Widget");
  // Standard output goes to standard error inside the dying process, where
  // the death test can read it.
  EXPECT_EXIT(
      {
        dup2(2, 1);
        Eval("Widget_Fail " + w + " 0");
      },
      ::testing::ExitedWithCode(1), "ERROR: LIBIN: broken cell\n");
  EXPECT_EXIT(
      {
        dup2(2, 1);
        Eval("Widget_Fail " + w + " 1");
      },
      ::testing::ExitedWithCode(1),
      "Error: Out of memory\n(.|\n)*Error: Out of memory\n");
  EXPECT_EXIT(Eval("Widget_Fail " + w + " 2"), ::testing::ExitedWithCode(1),
              "");
}

}  // namespace
}  // namespace binding
}  // namespace velmar
