// Tech: the rule and setting record that every layout operation consults.
//
// A plain record of 38 scripted attributes (report switches, size limits,
// two sets of measurement conditions, the bias and hammer rule lists with
// their settings, the hierarchy thresholds and the mask-file parameters)
// plus the eight methods that build the rule lists. Condition values, rule
// ranges and bias values are in nanometres; they become database units only
// where an operation uses them (RuleInterval, BiasRule::Scale).
//
// Rule ownership. The rule lists are pooled SLists whose nodes point at
// BiasRule records. Every Tech owns its nodes and its records alone: copies
// (copy construction, assignment, API_tech_set, configure -tech) and list
// handles get their own nodes and their own copies of the records, so no
// two owners ever return the same node to the pool. A record stays
// allocated until its Tech is destroyed, also after the list was reset or
// replaced, so that a rule table prepared from it stays valid.
//
// The SList pool may be released while rule lists still name nodes in it
// (API::CloseLog). ForgetPooledRuleNodes, called right after that release,
// empties every live list header, so nothing touches released nodes later.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/search_tree_kd.h"
#include "foundation/slist.h"
#include "geometry/marker_checks.h"

namespace velmar {

// One bias rule (one value: the bias amount) or hammer rule (three values),
// keyed by four ranges. min[i] = INT_MAX marks a lower limit that was never
// set, max[i] = INT_MIN an upper limit that was never set. The value array
// `bias` is the item that a rule table (DBSearchSystemKD) stores.
struct BiasRule : KDBox {
  static constexpr int kDimensions = 4;
  static constexpr int kMaxValues = 3;

  int32_t* bias;       // the rule's values (bias[0 .. valueCount - 1])
  int32_t valueCount;  // 1 for a bias rule, 3 for a hammer rule

  // A rule of four reset ranges (min INT_MAX, max INT_MIN) and valueCount
  // values of 0 (1 <= valueCount <= kMaxValues).
  explicit BiasRule(int32_t valueCount);
  // Own copy of ranges and values.
  BiasRule(const BiasRule& other);
  BiasRule& operator=(const BiasRule&) = delete;

  // Multiplies the set limits by factor, rounding half away from zero;
  // nothing when |factor - 1| <= 2^-23. Unset limits (INT_MAX, INT_MIN)
  // are left alone.
  void Scale(double factor);

 private:
  int32_t values_[kMaxValues];
};

// A condition set in database units: the lengths in [min, max], or with
// exclude 1 those outside it (for an inequality, the single value min = max
// is excluded). The same record as the rectangle selection's length range.
using Interval = LengthRange;

// Turns one condition set (values below 0: not given) into an interval in
// database units, scaled by factor and rounded half away from zero. eq wins
// over neq, less over lesseq, greater over greatereq; the exclusive bounds
// are adjusted by one after scaling. Without bounds: [0, INT_MAX]. Writes
// out.exclude only in the neq case (the caller sets it to 0 beforehand).
void RuleInterval(Interval& out, int eq, int neq, int less, int lesseq,
                  int greater, int greatereq, double factor);

class Tech {
 public:
  // Scripted attributes, in attribute order.
  int reportDegree = 0;    // non-zero: echo of command lines and progress
  int reportCount = 0;     // read by SaveDB and SavePoly
  int maxVertice = 4096;   // vertex limit of the GDSII export
  int maxSize = 10000;     // SaveDB, SavePoly, area extractions
  int areaMargin = 0;      // widening of the working area
  int areaMargin2 = 0;     // stored only
  bool ignoreText = false; // handed to the GDSII and OASIS readers
  // Condition set 1 (-1: not given).
  int less = -1;
  int lesseq = -1;
  int greater = -1;
  int greatereq = -1;
  int eq = -1;
  int neq = -1;
  // Condition set 2 (-1: not given).
  int less2 = -1;
  int lesseq2 = -1;
  int greater2 = -1;
  int greatereq2 = -1;
  int eq2 = -1;
  int neq2 = -1;
  SList biasRules;    // items: BiasRule* with one value; head = current
  SList endcapRules;  // items: BiasRule* with three values; head = current
  int biasMinLength = 1000;
  int biasCornerGuard = 100;
  int biasDiff = 2;
  int biasShortMode = 1;
  int biasMergeMode = 2;
  int endcapMinLength = 0;
  int hammerSideAdjust = 1;
  int flattenSize = 0;
  int splitSize = 50000;
  int explodeRate = 70;
  int sparseRate = 30;
  int overlapRate = 0;
  int geoLevel = 0;
  double transmittance = 0.0;
  double backTrans = 1.0;
  int phase = 0;
  int backPhase = 0;

  Tech();
  // Copies every attribute; the rule lists get their own nodes and records.
  Tech(const Tech& other);
  // As the copy constructor. The lists' old nodes go back to the pool; their
  // records stay allocated until this Tech is destroyed.
  Tech& operator=(const Tech& other);
  // Returns the nodes of endcapRules, then biasRules, and frees every record.
  ~Tech();

  // Methods, in the order of the class's method list.
  void ResetBiasRules();           // empties biasRules
  void CreateBiasRule();           // new bias rule at the head
  void SetBiasRange(int i);        // range i (0..3) of the head bias rule
  void SetBias(int bias);          // value of the head bias rule
  void ResetHammerRules();         // empties endcapRules
  void CreateHammerRule();         // new hammer rule at the head
  void SetHammerRange(int i);      // range i (0..3) of the head hammer rule
  void SetHammer(int i, int bias); // value i (0..2) of the head hammer rule

  // Replaces biasRules / endcapRules by copies of the rules of another list
  // (a list handle); the given list is left unchanged.
  void AssignBiasRules(const SList& rules);
  void AssignHammerRules(const SList& rules);

  // A new list header with copies of the rules of `rules`, for a list handle
  // that a script keeps. The header, its nodes and its records belong to the
  // process and are never freed (a script cannot release a handle).
  static SList* NewRuleListHandle(const SList& rules);

  // Empties the header of every rule list that still exists (every Tech's
  // two lists and every list handle) without touching its nodes: call right
  // after the SList pool was released. The records stay with their owners.
  static void ForgetPooledRuleNodes();

 private:
  void CopyAttributes(const Tech& other);
  // Appends copies of the rules of `from` to the empty list `to`, in order;
  // the records go into this Tech's store.
  void CopyRules(const SList& from, SList& to);
  BiasRule* NewRule(int32_t valueCount);
  BiasRule* HeadRule(const SList& list, const char* kind) const;
  void SetRange(BiasRule& rule, int i) const;

  // Every record this Tech created or copied; freed with the Tech.
  std::vector<std::unique_ptr<BiasRule>> rules_;
  // Chain of the live Tech objects (ForgetPooledRuleNodes).
  Tech* livePrev_ = nullptr;
  Tech* liveNext_ = nullptr;
};

}  // namespace velmar
