// Script commands of the Tech record: the attribute commands, the eight
// rule-list methods, new_Tech, delete_Tech and the class command Tech.

#include "command/binding.h"
#include "command/tech.h"

namespace velmar::binding {

void BindTech(Registry& registry) {
  ClassBinding<Tech> c(registry);
  c.Attribute("reportDegree", kInt, &Tech::reportDegree);
  c.Attribute("reportCount", kInt, &Tech::reportCount);
  c.Attribute("maxVertice", kInt, &Tech::maxVertice);
  c.Attribute("maxSize", kInt, &Tech::maxSize);
  c.Attribute("areaMargin", kInt, &Tech::areaMargin);
  c.Attribute("areaMargin2", kInt, &Tech::areaMargin2);
  c.Attribute("ignoreText", kBool, &Tech::ignoreText);
  c.Attribute("less", kInt, &Tech::less);
  c.Attribute("lesseq", kInt, &Tech::lesseq);
  c.Attribute("greater", kInt, &Tech::greater);
  c.Attribute("greatereq", kInt, &Tech::greatereq);
  c.Attribute("eq", kInt, &Tech::eq);
  c.Attribute("neq", kInt, &Tech::neq);
  c.Attribute("less2", kInt, &Tech::less2);
  c.Attribute("lesseq2", kInt, &Tech::lesseq2);
  c.Attribute("greater2", kInt, &Tech::greater2);
  c.Attribute("greatereq2", kInt, &Tech::greatereq2);
  c.Attribute("eq2", kInt, &Tech::eq2);
  c.Attribute("neq2", kInt, &Tech::neq2);
  // A list handle holds its own copies of the rules: reading hands out a
  // copy, writing copies the handle's rules into the record.
  c.Attribute(
      "biasRules", kSList,
      [](Tech& t) { return Fresh<SList>{Tech::NewRuleListHandle(t.biasRules)}; },
      [](Tech& t, SList& rules) { t.AssignBiasRules(rules); });
  c.Attribute(
      "endcapRules", kSList,
      [](Tech& t) {
        return Fresh<SList>{Tech::NewRuleListHandle(t.endcapRules)};
      },
      [](Tech& t, SList& rules) { t.AssignHammerRules(rules); });
  c.Attribute("biasMinLength", kInt, &Tech::biasMinLength);
  c.Attribute("biasCornerGuard", kInt, &Tech::biasCornerGuard);
  c.Attribute("biasDiff", kInt, &Tech::biasDiff);
  c.Attribute("biasShortMode", kInt, &Tech::biasShortMode);
  c.Attribute("biasMergeMode", kInt, &Tech::biasMergeMode);
  c.Attribute("endcapMinLength", kInt, &Tech::endcapMinLength);
  c.Attribute("hammerSideAdjust", kInt, &Tech::hammerSideAdjust);
  c.Attribute("flattenSize", kInt, &Tech::flattenSize);
  c.Attribute("splitSize", kInt, &Tech::splitSize);
  c.Attribute("explodeRate", kInt, &Tech::explodeRate);
  c.Attribute("sparseRate", kInt, &Tech::sparseRate);
  c.Attribute("overlapRate", kInt, &Tech::overlapRate);
  c.Attribute("geoLevel", kInt, &Tech::geoLevel);
  c.Attribute("transmittance", kDouble, &Tech::transmittance);
  c.Attribute("backTrans", kDouble, &Tech::backTrans);
  c.Attribute("phase", kInt, &Tech::phase);
  c.Attribute("backPhase", kInt, &Tech::backPhase);

  c.Method("ResetBiasRules", {}, [](Tech& t) { t.ResetBiasRules(); });
  c.Method("CreateBiasRule", {}, [](Tech& t) { t.CreateBiasRule(); });
  c.Method("SetBiasRange", {{"i", kInt}},
           [](Tech& t, int i) { t.SetBiasRange(i); });
  c.Method("SetBias", {{"bias", kInt}},
           [](Tech& t, int bias) { t.SetBias(bias); });
  c.Method("ResetHammerRules", {}, [](Tech& t) { t.ResetHammerRules(); });
  c.Method("CreateHammerRule", {}, [](Tech& t) { t.CreateHammerRule(); });
  c.Method("SetHammerRange", {{"i", kInt}},
           [](Tech& t, int i) { t.SetHammerRange(i); });
  c.Method("SetHammer", {{"i", kInt}, {"bias", kInt}},
           [](Tech& t, int i, int bias) { t.SetHammer(i, bias); });
}

}  // namespace velmar::binding
