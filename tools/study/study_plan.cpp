// The runs of the study. The scale runs measure today's protocol at four sizes; every other
// group changes one setting of a scale run to see what a different protocol would do. Lengths
// are chosen so that the whole study runs in a few minutes on two cores.

#include "tools/study/study_config.h"

namespace zorvex::study {
namespace {

StudyConfig Scale(int nodes) {
  StudyConfig config;
  config.name = "scale-" + std::to_string(nodes);
  config.group = "scale";
  config.nodes = nodes;
  return config;
}

StudyConfig Variant(const std::string& group, const std::string& setting, int nodes) {
  StudyConfig config = Scale(nodes);
  config.name = group + "-" + setting + "-" + std::to_string(nodes);
  config.group = group;
  return config;
}

}  // namespace

std::vector<StudyConfig> StudyPlan() {
  std::vector<StudyConfig> plan;
  for (const int nodes : {100, 1000, 3000, 10000})
    plan.push_back(Scale(nodes));
  plan.back().measure_minutes = 8;  // the largest run costs the most

  for (const int max : {8, 12, 24}) {
    plan.push_back(Variant("maxconn", std::to_string(max), 1000));
    plan.back().max_connections = max;
  }
  for (const int percent : {50, 200}) {
    plan.push_back(Variant("hops", std::to_string(percent) + "pct", 1000));
    plan.back().walk_hops_percent = percent;
  }
  for (const int percent : {0, 5, 15}) {
    plan.push_back(Variant("loss", std::to_string(percent) + "pct", 1000));
    plan.back().loss = percent / 100.0;
  }
  for (const int percent : {0, 3}) {
    plan.push_back(Variant("churn", std::to_string(percent) + "pct", 1000));
    plan.back().churn_per_minute = percent / 100.0;
  }

  plan.push_back(Variant("gateway", "three", 3000));
  plan.back().gateways = 3;
  plan.push_back(Variant("gateway", "page10", 3000));
  plan.back().gateway_page_limit = 10;

  plan.push_back(Variant("ask", "20000", 3000));
  plan.back().ask_limit = 20000;
  return plan;
}

}  // namespace zorvex::study
