// Placement transforms, their composition and inverse, the boxes of placed
// references and the order of references.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "foundation/error.h"
#include "foundation/slist.h"
#include "layoutdb/trans.h"

namespace velmar {
namespace {

// The orientation codes written out from their definition: how (x, y) is
// turned before the offset is added.
Point TurnByDefinition(int code, Point p) {
  switch (code) {
    case 1: return {-p.y, p.x};
    case 2: return {-p.x, -p.y};
    case 3: return {p.y, -p.x};
    case 4: return {-p.x, p.y};
    case 5: return {-p.y, -p.x};
    case 6: return {p.x, -p.y};
    case 7: return {p.y, p.x};
    default: return p;
  }
}

Point Map(const Trans& t, Point p) {
  t.Apply(p.x, p.y);
  return p;
}

const std::vector<Point> kSamples = {{3, 7}, {-5, 2}, {0, 0}, {11, -13},
                                     {-17, -19}};

TEST(TransApply, EveryOrientationTurnsThenAddsOffset) {
  for (int code = 0; code < 10; ++code) {
    Trans t(100, -40, 1.0f, uint8_t(code));
    for (Point p : kSamples) {
      Point want = TurnByDefinition(code, p);  // codes 8, 9 map like 0
      want.x += 100;
      want.y -= 40;
      EXPECT_EQ(Map(t, p), want) << "code " << code;
    }
  }
}

TEST(TransApply, MagnificationRoundsHalfUpBeforeTurning) {
  Trans half(0, 0, 0.5f, 0);
  EXPECT_EQ(Map(half, {3, -3}), Point(2, -1));   // 1.5 -> 2, -1.5 -> -1
  EXPECT_EQ(Map(half, {5, -5}), Point(3, -2));
  // Scaled first, then turned: -1.5 rounds to -1 before code 2 negates it.
  Trans halfTurned(0, 0, 0.5f, 2);
  EXPECT_EQ(Map(halfTurned, {-3, 3}), Point(1, -2));

  // Within 2^-23 of 1 counts as no magnification.
  Trans almostOne(0, 0, float(1.0 + 1.0 / 8388608.0), 0);
  EXPECT_FALSE(almostOne.Magnified());
  EXPECT_EQ(Map(almostOne, {3, 2000000000}), Point(3, 2000000000));
  Trans twoUlps(0, 0, std::nextafter(std::nextafter(1.0f, 2.0f), 2.0f), 0);
  EXPECT_TRUE(twoUlps.Magnified());

  Trans triple(7, 0, 3.0f, 1);
  EXPECT_EQ(Map(triple, {2, 5}), Point(7 - 15, 6));
}

TEST(TransApply, ResultsOutsideInt32AreRefused) {
  auto expectDB = [](const Trans& t, Point p) {
    try {
      t.Apply(p.x, p.y);
      ADD_FAILURE() << "no error for " << p.x << "," << p.y;
    } catch (const Error& e) {
      EXPECT_STREQ(e.Unit(), "DB");
    }
  };
  expectDB(Trans(0, 0, 2.0f, 0), {1200000000, 0});
  expectDB(Trans(0, 0, 2.0f, 0), {0, -1200000000});
  expectDB(Trans(INT32_MAX, 0, 1.0f, 0), {1, 0});
  expectDB(Trans(0, INT32_MIN, 1.0f, 0), {0, -1});
  expectDB(Trans(0, 0, 1.0f, 2), {INT32_MIN, 0});  // -INT32_MIN
  // The extremes themselves still map.
  EXPECT_EQ(Map(Trans(0, 0, 1.0f, 2), {INT32_MAX, -INT32_MAX}),
            Point(-INT32_MAX, INT32_MAX));
  EXPECT_EQ(Map(Trans(-1, 0, 1.0f, 0), {INT32_MIN + 1, 0}),
            Point(INT32_MIN, 0));
}

TEST(OrientationProduct, EveryEntryIsTheCompositionOfTheTwoTurns) {
  for (int c = 0; c < 8; ++c) {
    for (int p = 0; p < 8; ++p) {
      Trans child(0, 0, 1.0f, uint8_t(c)), parent(0, 0, 1.0f, uint8_t(p));
      Trans product(0, 0, 1.0f, OrientationProduct[c][p]);
      for (Point s : kSamples) {
        EXPECT_EQ(Map(parent, Map(child, s)), Map(product, s))
            << "entry [" << c << "][" << p << "]";
      }
    }
  }
  EXPECT_EQ(OrientationProduct[1][4], 7);  // (x, y) -> (-y, x) -> (y, x)
  EXPECT_EQ(OrientationProduct[1][1], 2);
}

TEST(TransCompose, MappingByTheProductEqualsInnerThenOuter) {
  std::mt19937 rng(101);
  std::uniform_int_distribution<int32_t> coord(-100000, 100000);
  const float mags[] = {1.0f, 2.0f, 4.0f};
  for (int ci = 0; ci < 8; ++ci) {
    for (int co = 0; co < 8; ++co) {
      for (float mi : mags) {
        for (float mo : mags) {
          Trans inner(coord(rng), coord(rng), mi, uint8_t(ci));
          Trans outer(coord(rng), coord(rng), mo, uint8_t(co));
          Trans both = Trans::Compose(inner, outer);
          EXPECT_EQ(both.orientation, OrientationProduct[ci][co]);
          EXPECT_EQ(both.mag, mi * mo);
          for (int k = 0; k < 4; ++k) {
            Point s(coord(rng), coord(rng));
            // Powers of two scale exactly, so the composition is exact too.
            EXPECT_EQ(Map(both, s), Map(outer, Map(inner, s)));
          }
        }
      }
    }
  }
  // An unmagnified outer keeps the inner magnification as stored.
  Trans inner(0, 0, 0.3f, 0), outer(5, 5, 1.0f, 3);
  EXPECT_EQ(Trans::Compose(inner, outer).mag, 0.3f);
  // A code above 7 composes like 0.
  Trans odd(0, 0, 1.0f, 9);
  EXPECT_EQ(Trans::Compose(odd, Trans(0, 0, 1.0f, 5)).orientation, 5);
}

TEST(TransInvert, InverseUndoesTheTransformForEveryOrientation) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> coord(-1000000, 1000000);
  struct MagCase {
    float mag;
    int32_t offsetStep;  // offsets that the magnification divides exactly
  };
  const MagCase cases[] = {{1.0f, 1}, {2.0f, 2}, {4.0f, 4}, {3.0f, 3},
                           {float(1.0 + 1.0 / 8388608.0), 1}};
  for (const MagCase& mc : cases) {
    for (int code = 0; code < 8; ++code) {
      Trans t(coord(rng) * mc.offsetStep, coord(rng) * mc.offsetStep, mc.mag,
              uint8_t(code));
      Trans inv = t;
      inv.Invert();
      for (int k = 0; k < 20; ++k) {
        Point s(coord(rng), coord(rng));
        EXPECT_EQ(Map(inv, Map(t, s)), s)
            << "mag " << mc.mag << " code " << code;
      }
      if (mc.mag == 1.0f) {
        // Without magnification the inverse is exact both ways round.
        Point s(coord(rng), coord(rng));
        EXPECT_EQ(Map(t, Map(inv, s)), s);
        Trans again = inv;
        again.Invert();
        EXPECT_EQ(again.x, t.x);
        EXPECT_EQ(again.y, t.y);
        EXPECT_EQ(again.orientation, t.orientation);
      }
    }
  }
}

TEST(TransInvert, DocumentedCases) {
  Trans t(10, 20, 1.0f, 1);
  t.Invert();
  EXPECT_EQ(t.x, -20);
  EXPECT_EQ(t.y, 10);
  EXPECT_EQ(t.orientation, 3);

  Trans nine(10, 20, 1.0f, 9);
  nine.Invert();
  EXPECT_EQ(nine.x, -10);
  EXPECT_EQ(nine.y, -20);
  EXPECT_EQ(nine.orientation, 9);

  Trans mag(10, -30, 2.0f, 0);  // offset scaled by 1/2: (5, -15), negated
  mag.Invert();
  EXPECT_EQ(mag.x, -5);
  EXPECT_EQ(mag.y, 15);
  EXPECT_EQ(mag.mag, 0.5f);

  Trans zero(1, 1, 0.0f, 0);
  EXPECT_THROW(zero.Invert(), Error);
  Trans extreme(INT32_MIN, 0, 1.0f, 0);
  try {
    extreme.Invert();
    ADD_FAILURE() << "negating INT32_MIN must not wrap";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Unit(), "DB");
  }
}

TEST(TransTransformBox, NormalisesAndKeepsTheEmptyBox) {
  Box b(0, 0, 10, 20);
  Trans(100, 100, 1.0f, 1).TransformBox(b);
  EXPECT_EQ(b, Box(80, 100, 100, 110));
  Box empty;
  Trans(100, 100, 1.0f, 2).TransformBox(empty);
  EXPECT_TRUE(empty.IsEmpty());
}

// Brute force: the union of the placed boxes of every array element, each
// child box corner mapped through the element's placement.
Box BruteForceBox(const Trans& t, int cols, int rows, int32_t colPitch,
                  int32_t rowPitch, const Box& child) {
  Box out;
  for (int c = 0; c < cols; ++c) {
    for (int r = 0; r < rows; ++r) {
      Trans e = t;
      bool odd = t.orientation % 2 == 1;
      e.x = t.x + (odd ? r : c) * colPitch;
      e.y = t.y + (odd ? c : r) * rowPitch;
      for (Point corner : {Point(child.x1, child.y1), Point(child.x2, child.y1),
                           Point(child.x1, child.y2),
                           Point(child.x2, child.y2)}) {
        Point m = Map(e, corner);
        out.Extend(m.x, m.y);
      }
    }
  }
  return out;
}

TEST(ReferenceBox, SingleAndArrayBoxesMatchBruteForce) {
  std::mt19937 rng(31);
  std::uniform_int_distribution<int32_t> coord(-5000, 5000);
  std::uniform_int_distribution<int32_t> extent(1, 3000);
  std::uniform_int_distribution<int32_t> count(1, 5);
  const float mags[] = {1.0f, 2.0f, 0.5f, 1.5f};
  for (int code = 0; code < 8; ++code) {
    for (float mag : mags) {
      for (int k = 0; k < 25; ++k) {
        int32_t x1 = coord(rng), y1 = coord(rng);
        Box child(x1, y1, x1 + extent(rng), y1 + extent(rng));
        Trans t(coord(rng), coord(rng), mag, uint8_t(code));

        SRef single(t, 42);
        EXPECT_FALSE(single.IsArray());
        EXPECT_EQ(single.GetBox(child), BruteForceBox(t, 1, 1, 0, 0, child));

        int cols = count(rng), rows = count(rng);
        int32_t cp = coord(rng), rp = coord(rng);
        std::unique_ptr<SRef> array =
            std::make_unique<ARef>(t, 42, int16_t(cols), int16_t(rows), cp, rp);
        EXPECT_TRUE(array->IsArray());
        EXPECT_EQ(array->CellId(), 42);
        EXPECT_EQ(array->GetBox(child),  // through the virtual slot
                  BruteForceBox(t, cols, rows, cp, rp, child))
            << "code " << code << " mag " << mag << " " << cols << "x"
            << rows;
      }
    }
  }
}

TEST(ReferenceBox, DocumentedArrayCases) {
  Box child(0, 0, 10, 10);
  ARef a(Trans(0, 0, 1.0f, 1), 3, 3, 2, 100, 50);
  EXPECT_EQ(a.GetBox(child), Box(-10, 0, 100, 110));  // far element (100, 100)
  Trans far = a.ElementTrans(2, 1);
  EXPECT_EQ(far.x, 100);
  EXPECT_EQ(far.y, 100);

  ARef one(Trans(7, -9, 1.0f, 5), 3, 1, 1, 1000, 1000);
  SRef single(Trans(7, -9, 1.0f, 5), 3);
  EXPECT_EQ(one.GetBox(child), single.GetBox(child));

  // An empty child covers nothing, placed singly or in an array.
  EXPECT_TRUE(a.GetBox(Box()).IsEmpty());
  EXPECT_TRUE(single.GetBox(Box()).IsEmpty());

  // A far element beyond int32 is refused, not wrapped.
  ARef huge(Trans(2000000000, 0, 1.0f, 0), 3, 2, 1, 1000000000, 0);
  EXPECT_THROW(huge.GetBox(child), Error);
}

TEST(ReferenceCompare, OrderOfKeys) {
  auto S = [](int32_t id, int32_t x, int32_t y, int o, float m = 1.0f) {
    return std::make_unique<SRef>(Trans(x, y, m, uint8_t(o)), id);
  };
  auto A = [](int32_t id, int32_t x, int32_t y, int o, int c, int r, int32_t cp,
              int32_t rp, float m = 1.0f) {
    return std::make_unique<ARef>(Trans(x, y, m, uint8_t(o)), id, int16_t(c),
                                  int16_t(r), cp, rp);
  };
  struct Case {
    std::unique_ptr<SRef> a, b;
    int want;
    const char* what;
  };
  std::vector<Case> cases;
  cases.push_back({S(1, 0, 0, 0), S(2, 0, 0, 0), -1, "cell id"});
  cases.push_back({A(5, 0, 0, 0, 1, 1, 0, 0), S(1, 0, 0, 0), -1,
                   "arrays before singles"});
  cases.push_back({A(5, 0, 0, 0, 1, 1, 0, 0), S(5, 0, 0, 0), -1,
                   "array before single of the same cell"});
  cases.push_back({S(1, -5, 9, 0), S(1, 3, 0, 0), -1, "x signed"});
  cases.push_back({S(1, 3, -1, 7), S(1, 3, 0, 0), -1, "y signed"});
  cases.push_back({S(1, 3, 0, 7), S(1, 3, 0, 6), 1, "orientation"});
  cases.push_back({A(1, 0, 0, 0, 2, 9, 0, 0), A(1, 0, 0, 0, 3, 1, 0, 0), -1,
                   "columns"});
  cases.push_back({A(1, 0, 0, 0, 3, 2, 9, 0), A(1, 0, 0, 0, 3, 1, 0, 0), 1,
                   "rows"});
  cases.push_back({A(1, 0, 0, 0, 3, 2, -9, 0), A(1, 0, 0, 0, 3, 2, 0, 0), -1,
                   "column pitch"});
  cases.push_back({A(1, 0, 0, 0, 3, 2, 0, 5), A(1, 0, 0, 0, 3, 2, 0, 4), 1,
                   "row pitch"});
  cases.push_back({S(1, 0, 0, 0), S(1, 0, 0, 0), 0, "equal singles"});
  cases.push_back({A(1, 4, 4, 1, 3, 2, 0, 5), A(1, 4, 4, 1, 3, 2, 0, 5), 0,
                   "equal arrays"});
  cases.push_back({S(1, 0, 0, 0, 1.0f), S(1, 0, 0, 0, 2.0f), -1,
                   "magnification alone differs"});
  cases.push_back({A(1, 0, 0, 0, 3, 2, 0, 5, 0.5f),
                   A(1, 0, 0, 0, 3, 2, 0, 5, 1.0f), -1,
                   "array magnification alone differs"});
  for (const Case& c : cases) {
    EXPECT_EQ(SRef::Compare(c.a.get(), c.b.get()), c.want) << c.what;
    EXPECT_EQ(SRef::Compare(c.b.get(), c.a.get()), -c.want) << c.what;
  }
}

TEST(ReferenceCompare, SortingAndDroppingDuplicatesKeepsEveryPlacement) {
  std::vector<std::unique_ptr<SRef>> refs;
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> small(0, 2);
  // Many exact duplicates among few distinct references; magnifications 1
  // and 2 make references that differ only there.
  for (int i = 0; i < 300; ++i) {
    Trans t(small(rng) * 10, small(rng) * 10, small(rng) == 0 ? 2.0f : 1.0f,
            uint8_t(small(rng)));
    if (small(rng) == 0)
      refs.push_back(std::make_unique<ARef>(t, small(rng), 2, 3, 5, 7));
    else
      refs.push_back(std::make_unique<SRef>(t, small(rng)));
  }
  SList list;
  for (auto& r : refs) {
    SListNode* n = SList::NewNode();
    n->next = nullptr;
    n->item = r.get();
    if (list.tail) list.tail->next = n; else list.head = n;
    list.tail = n;
    ++list.count;
  }
  SList::Sort(list, SRef::CompareIndirect);
  ASSERT_TRUE(SList::IsSorted(list.head, SRef::CompareIndirect));
  int kept = 0;
  SListNode* prev = nullptr;
  for (SListNode* n = list.head; n; n = n->next) {
    if (!prev || SRef::CompareIndirect(prev, n) != 0) ++kept;
    prev = n;
  }
  // Oracle: distinct placements by every field, magnification included.
  auto key = [](const SRef* r) {
    std::vector<int64_t> k = {r->cellId, r->x, r->y, r->orientation,
                              int64_t(r->mag * 4)};
    if (r->IsArray()) {
      auto* a = static_cast<const ARef*>(r);
      k.insert(k.end(), {a->columns, a->rows, a->columnPitch, a->rowPitch});
    }
    return k;
  };
  std::vector<std::vector<int64_t>> keys;
  for (auto& r : refs) keys.push_back(key(r.get()));
  std::sort(keys.begin(), keys.end());
  int distinct = int(std::unique(keys.begin(), keys.end()) - keys.begin());
  EXPECT_EQ(kept, distinct);
  // Arrays come first.
  bool seenSingle = false;
  for (SListNode* n = list.head; n; n = n->next) {
    bool isArray = static_cast<SRef*>(n->item)->IsArray();
    if (!isArray) seenSingle = true;
    EXPECT_FALSE(isArray && seenSingle);
  }
  SList::Clear(list);
}

// The stream readers keep a cell's references as ARef values, a single
// reference being an ARef without the array bit. Copies and assignments
// between ARef values carry the source's bit, so a std::vector<ARef> that
// grows or is sorted keeps every single reference single.
TEST(ReferenceCellId, ARefValuesKeepTheirKindThroughCopies) {
  auto single = [](int32_t id) {
    ARef r(Trans(id, -id, 1.0f, 0), id, 1, 1, 0, 0);
    r.cellId &= SRef::kIdMask;
    return r;
  };
  const ARef one = single(5);
  ASSERT_FALSE(one.IsArray());
  const ARef copied(one);
  EXPECT_FALSE(copied.IsArray());
  EXPECT_EQ(copied.CellId(), 5);
  ARef target(Trans(), 9, 2, 2, 10, 10);
  target = one;
  EXPECT_FALSE(target.IsArray());
  target = ARef(Trans(), 9, 2, 2, 10, 10);
  EXPECT_TRUE(target.IsArray());
  EXPECT_EQ(target.columns, 2);

  // Even ids single, odd ids 3 x 2 arrays; growth copies every element many
  // times, sorting assigns them.
  std::vector<ARef> refs;
  for (int32_t id = 0; id < 1000; ++id) {
    if (id % 2 == 0)
      refs.push_back(single(id));
    else
      refs.emplace_back(Trans(id, 0, 1.0f, 1), id, 3, 2, 7, 8);
  }
  std::sort(refs.begin(), refs.end(), [](const ARef& a, const ARef& b) {
    return SRef::Compare(&a, &b) < 0;
  });
  int arrays = 0;
  for (size_t i = 0; i < refs.size(); ++i) {
    const ARef& r = refs[i];
    EXPECT_EQ(r.IsArray(), r.CellId() % 2 == 1) << "cell " << r.CellId();
    arrays += r.IsArray();
    if (i < 500) {
      EXPECT_TRUE(r.IsArray());  // arrays sort first
    }
  }
  EXPECT_EQ(arrays, 500);
  EXPECT_EQ(refs.front().columns, 3);
}

TEST(ReferenceCellId, ArrayBitIsKeptApartFromTheId) {
  ARef a;
  EXPECT_TRUE(a.IsArray());
  EXPECT_EQ(a.CellId(), 0);
  a.SetCellId(1234);
  EXPECT_TRUE(a.IsArray());
  EXPECT_EQ(a.CellId(), 1234);
  EXPECT_EQ(uint32_t(a.cellId), 0x80000000u | 1234u);
  // Copies keep the kind of the object copied into.
  ARef copy(a);
  EXPECT_TRUE(copy.IsArray());
  EXPECT_EQ(copy.CellId(), 1234);
  SRef sliced(a);
  EXPECT_FALSE(sliced.IsArray());
  EXPECT_EQ(sliced.CellId(), 1234);
  SRef assigned;
  assigned = a;
  EXPECT_FALSE(assigned.IsArray());
  EXPECT_EQ(assigned.CellId(), 1234);
  ARef other(Trans(1, 2, 1.0f, 3), 9, 2, 2, 10, 10);
  other = a;
  EXPECT_TRUE(other.IsArray());
  EXPECT_EQ(other.CellId(), 1234);
  EXPECT_EQ(other.x, 0);

  SRef s;
  s.SetCellId(77);
  EXPECT_FALSE(s.IsArray());
  EXPECT_EQ(s.cellId, 77);
  EXPECT_EQ(s.mag, 1.0f);
  EXPECT_EQ(s.orientation, 0);
  EXPECT_EQ(s.x, 0);
}

}  // namespace
}  // namespace velmar
