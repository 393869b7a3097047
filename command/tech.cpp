// Tech record: defaults, rule lists and the conversion of conditions and
// rule ranges to database units.

#include "command/tech.h"

#include <climits>
#include <cmath>
#include <cstdlib>

#include "foundation/error.h"

namespace velmar {

namespace {

// round(v): half away from zero, saturated to the int32 range.
int32_t RoundToInt(double v) {
  double r = v >= 0 ? std::trunc(v + 0.5) : std::trunc(v - 0.5);
  if (!(r < 2147483647.0)) return INT_MAX;  // also NaN
  if (r <= -2147483648.0) return INT_MIN;
  return static_cast<int32_t>(r);
}

int32_t Saturate(int64_t v) {
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int32_t>(v);
}

// The chain of live Tech objects: ForgetPooledRuleNodes walks it.
constinit Tech* LiveTechs = nullptr;

// List handles handed to scripts (they hold them, the store owns them):
// never freed, but emptied when the SList pool is released. Allocated once
// and never destroyed, so it outlives every static that might still name a
// handle at process exit.
struct HandleStore {
  std::vector<std::unique_ptr<SList>> handles;
  std::vector<std::unique_ptr<BiasRule>> rules;
};

HandleStore& Handles() {
  static HandleStore* store = new HandleStore;
  return *store;
}

// Appends copies of the rules of `from` to the empty list `to`, keeping the
// order; every copied record goes into `store`.
void CopyRuleList(const SList& from, SList& to,
                  std::vector<std::unique_ptr<BiasRule>>& store) {
  for (SListNode* n = from.head; n != nullptr; n = n->next) {
    store.push_back(std::make_unique<BiasRule>(*n->Item<const BiasRule>()));
    SListNode* node = SList::NewNode();
    node->next = nullptr;
    node->item = store.back().get();
    if (to.tail != nullptr) {
      to.tail->next = node;
    } else {
      to.head = node;
    }
    to.tail = node;
    ++to.count;
  }
}

}  // namespace

// --- BiasRule ---------------------------------------------------------------

BiasRule::BiasRule(int32_t count) : bias(values_), valueCount(count) {
  if (valueCount < 1) valueCount = 1;
  if (valueCount > kMaxValues) valueCount = kMaxValues;
  min.assign(kDimensions, INT_MAX);
  max.assign(kDimensions, INT_MIN);
  for (int32_t& v : values_) v = 0;
}

BiasRule::BiasRule(const BiasRule& other)
    : KDBox(other), bias(values_), valueCount(other.valueCount) {
  for (int i = 0; i < kMaxValues; ++i) values_[i] = other.values_[i];
}

void BiasRule::Scale(double factor) {
  if (std::fabs(factor - 1.0) <= 1.1920928955078125e-7) return;
  for (std::size_t i = 0; i < min.size(); ++i) {
    if (min[i] != INT_MIN && min[i] != INT_MAX) {
      min[i] = RoundToInt(factor * min[i]);
    }
    if (max[i] != INT_MIN && max[i] != INT_MAX) {
      max[i] = RoundToInt(factor * max[i]);
    }
  }
}

// --- RuleInterval -----------------------------------------------------------

void RuleInterval(Interval& out, int eq, int neq, int less, int lesseq,
                  int greater, int greatereq, double factor) {
  if (eq >= 0) {
    out.min = out.max = RoundToInt(factor * eq);
    return;
  }
  if (neq >= 0) {
    out.min = out.max = RoundToInt(factor * neq);
    out.exclude = 1;
    return;
  }
  if (less >= 0) {
    out.max = Saturate(int64_t(RoundToInt(factor * less)) - 1);
  } else if (lesseq >= 0) {
    out.max = RoundToInt(factor * lesseq);
  } else {
    out.max = INT_MAX;
  }
  if (greater >= 0) {
    out.min = Saturate(int64_t(RoundToInt(factor * greater)) + 1);
  } else if (greatereq >= 0) {
    out.min = RoundToInt(factor * greatereq);
  } else {
    out.min = 0;
  }
}

// --- Tech -------------------------------------------------------------------

Tech::Tech() {
  liveNext_ = LiveTechs;
  if (LiveTechs != nullptr) LiveTechs->livePrev_ = this;
  LiveTechs = this;
}

Tech::Tech(const Tech& other) : Tech() {
  CopyAttributes(other);
  CopyRules(other.biasRules, biasRules);
  CopyRules(other.endcapRules, endcapRules);
}

Tech& Tech::operator=(const Tech& other) {
  if (this == &other) return *this;
  CopyAttributes(other);
  SList::Clear(biasRules);
  SList::Clear(endcapRules);
  CopyRules(other.biasRules, biasRules);
  CopyRules(other.endcapRules, endcapRules);
  return *this;
}

Tech::~Tech() {
  SList::Clear(endcapRules);
  SList::Clear(biasRules);
  if (livePrev_ != nullptr) {
    livePrev_->liveNext_ = liveNext_;
  } else {
    LiveTechs = liveNext_;
  }
  if (liveNext_ != nullptr) liveNext_->livePrev_ = livePrev_;
}

void Tech::CopyAttributes(const Tech& o) {
  reportDegree = o.reportDegree;
  reportCount = o.reportCount;
  maxVertice = o.maxVertice;
  maxSize = o.maxSize;
  areaMargin = o.areaMargin;
  areaMargin2 = o.areaMargin2;
  ignoreText = o.ignoreText;
  less = o.less;
  lesseq = o.lesseq;
  greater = o.greater;
  greatereq = o.greatereq;
  eq = o.eq;
  neq = o.neq;
  less2 = o.less2;
  lesseq2 = o.lesseq2;
  greater2 = o.greater2;
  greatereq2 = o.greatereq2;
  eq2 = o.eq2;
  neq2 = o.neq2;
  biasMinLength = o.biasMinLength;
  biasCornerGuard = o.biasCornerGuard;
  biasDiff = o.biasDiff;
  biasShortMode = o.biasShortMode;
  biasMergeMode = o.biasMergeMode;
  endcapMinLength = o.endcapMinLength;
  hammerSideAdjust = o.hammerSideAdjust;
  flattenSize = o.flattenSize;
  splitSize = o.splitSize;
  explodeRate = o.explodeRate;
  sparseRate = o.sparseRate;
  overlapRate = o.overlapRate;
  geoLevel = o.geoLevel;
  transmittance = o.transmittance;
  backTrans = o.backTrans;
  phase = o.phase;
  backPhase = o.backPhase;
}

void Tech::CopyRules(const SList& from, SList& to) {
  CopyRuleList(from, to, rules_);
}

BiasRule* Tech::NewRule(int32_t valueCount) {
  rules_.push_back(std::make_unique<BiasRule>(valueCount));
  return rules_.back().get();
}

// The head (current) rule of the list; a warning and null when it is empty.
BiasRule* Tech::HeadRule(const SList& list, const char* kind) const {
  if (list.head == nullptr) {
    PrintMessage("Warning: no %s rule exists; create one first\n", kind);
    return nullptr;
  }
  return list.head->Item<BiasRule>();
}

// Range i of the rule from the raw condition set 1 (no scaling): eq alone
// when given; else the upper limit from less (exclusive) or lesseq, and the
// lower limit from greater (exclusive), greatereq, or 0.
void Tech::SetRange(BiasRule& rule, int i) const {
  if (eq >= 0) {
    rule.min[i] = rule.max[i] = eq;
    return;
  }
  if (less >= 0) {
    rule.max[i] = less - 1;
  } else if (lesseq >= 0) {
    rule.max[i] = lesseq;
  }
  if (greater >= 0) {
    rule.min[i] = Saturate(int64_t(greater) + 1);
  } else if (greatereq >= 0) {
    rule.min[i] = greatereq;
  } else {
    rule.min[i] = 0;
  }
}

void Tech::ResetBiasRules() { SList::Clear(biasRules); }

void Tech::CreateBiasRule() {
  SListNode* node = SList::NewNode();
  node->item = NewRule(1);
  node->next = biasRules.head;
  biasRules.head = node;
  if (biasRules.tail == nullptr) biasRules.tail = node;
  ++biasRules.count;
}

void Tech::SetBiasRange(int i) {
  BiasRule* rule = HeadRule(biasRules, "bias");
  if (rule == nullptr) return;
  if (i < 0 || i >= BiasRule::kDimensions) {
    PrintMessage("Warning: rule range index %d is outside 0..3\n", i);
    return;
  }
  SetRange(*rule, i);
}

void Tech::SetBias(int bias) {
  BiasRule* rule = HeadRule(biasRules, "bias");
  if (rule == nullptr) return;
  rule->bias[0] = bias;
}

void Tech::ResetHammerRules() { SList::Clear(endcapRules); }

void Tech::CreateHammerRule() {
  SListNode* node = SList::NewNode();
  node->item = NewRule(3);
  node->next = endcapRules.head;
  endcapRules.head = node;
  if (endcapRules.tail == nullptr) endcapRules.tail = node;
  ++endcapRules.count;
}

void Tech::SetHammerRange(int i) {
  BiasRule* rule = HeadRule(endcapRules, "hammer");
  if (rule == nullptr) return;
  if (i < 0 || i >= BiasRule::kDimensions) {
    PrintMessage("Warning: rule range index %d is outside 0..3\n", i);
    return;
  }
  SetRange(*rule, i);
}

void Tech::SetHammer(int i, int bias) {
  BiasRule* rule = HeadRule(endcapRules, "hammer");
  if (rule == nullptr) return;
  if (i < 0 || i >= rule->valueCount) {
    PrintMessage("Warning: hammer value index %d is outside 0..2\n", i);
    return;
  }
  rule->bias[i] = bias;
}

void Tech::AssignBiasRules(const SList& rules) {
  if (&rules == &biasRules) return;
  SList copy;
  CopyRules(rules, copy);  // first copy: rules may share nothing with ours
  SList::Clear(biasRules);
  biasRules = copy;
}

void Tech::AssignHammerRules(const SList& rules) {
  if (&rules == &endcapRules) return;
  SList copy;
  CopyRules(rules, copy);
  SList::Clear(endcapRules);
  endcapRules = copy;
}

SList* Tech::NewRuleListHandle(const SList& rules) {
  HandleStore& store = Handles();
  SList& handle = *store.handles.emplace_back(std::make_unique<SList>());
  CopyRuleList(rules, handle, store.rules);
  return &handle;
}

void Tech::ForgetPooledRuleNodes() {
  for (Tech* t = LiveTechs; t != nullptr; t = t->liveNext_) {
    t->biasRules = SList{};
    t->endcapRules = SList{};
  }
  for (const auto& handle : Handles().handles) *handle = SList{};
}

}  // namespace velmar
