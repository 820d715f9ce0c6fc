// The result lines and their JSON form. The text forms are the tool's own since
// its first version; the JSON numbers are made from the same texts.
#include "cli/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {
std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Ssim(double value) {
  return std::isfinite(value) ? Format("%.6f", value) : NumberText(value);
}
}  // namespace

std::string NumberText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return Format("%.9g", value);
}

std::string ResultLines(const RunResult& o, bool metrics) {
  const CDialogFields& f = o.fields;
  std::string s;
  s += "mask pixels: " + std::to_string(f.m_nMaskPixels) + "\n";
  s += "psnr damaged: " + NumberText(double(f.m_fPsnrDamaged)) + "\n";
  s += "psnr result: " + NumberText(double(f.m_fPsnrResult)) + "\n";
  s += "iterations: " + std::to_string(f.m_nTotalIter) + "\n";
  s += "seconds: " + Format("%.3f", double(f.m_fSeconds)) + "\n";
  if (metrics && o.quality) {
    const QualityMetrics& q = *o.quality;
    s += "psnr hole damaged: " + NumberText(q.psnrHoleDamaged) + "\n";
    s += "psnr hole result: " + NumberText(q.psnrHoleResult) + "\n";
    s += "ssim damaged: " + Ssim(q.ssimDamaged) + "\n";
    s += "ssim result: " + Ssim(q.ssimResult) + "\n";
    s += "ssim box damaged: " + Ssim(q.ssimBoxDamaged) + "\n";
    s += "ssim box result: " + Ssim(q.ssimBoxResult) + "\n";
    s += "mae hole damaged: " + NumberText(q.holeDamaged.meanAbsolute) + "\n";
    s += "mae hole result: " + NumberText(q.holeResult.meanAbsolute) + "\n";
    s += "psnr hole result rgb: " + NumberText(q.holeResult.channelPsnr[0]) + " " +
         NumberText(q.holeResult.channelPsnr[1]) + " " + NumberText(q.holeResult.channelPsnr[2]) +
         "\n";
  }
  if (metrics) s += "estimated psnr hole: " + NumberText(o.estimatedPsnr) + "\n";
  if (metrics && o.fill && o.fill->automatic) {
    // Each fill chosen, in the order of its first region, with its count of regions.
    std::vector<std::pair<std::string, int>> counts;
    for (const std::string& name : o.fill->Chosen()) {
      auto it = std::find_if(counts.begin(), counts.end(),
                             [&](const std::pair<std::string, int>& c) { return c.first == name; });
      if (it == counts.end())
        counts.emplace_back(name, 1);
      else
        ++it->second;
    }
    s += "auto choice:";
    for (std::size_t c = 0; c < counts.size(); ++c)
      s += std::string(c ? ", " : " ") + counts[c].first + " (" + std::to_string(counts[c].second) +
           (counts[c].second == 1 ? " region)" : " regions)");
    s += "\n";
  }
  return s;
}

Json ResultJson(const RunResult& o) {
  const CDialogFields& f = o.fields;
  Json j;
  j["mask_pixels"] = f.m_nMaskPixels;
  j["psnr_damaged"] = JsonFloat(f.m_fPsnrDamaged);
  j["psnr_result"] = JsonFloat(f.m_fPsnrResult);
  j["iterations"] = f.m_nTotalIter;
  j["seconds"] = JsonReal(double(f.m_fSeconds), "%.3f");
  j["method"] = RunMethodName(o.method);
  j["stopped"] = o.stopped;
  if (o.automatic) {
    j["rule"] = o.rule == AutoRule::kHeldOut ? "held-out" : o.rule == AutoRule::kSettle ? "settle" : "psnr";
    j["stopped_at_cap"] = o.atCap;
  }
  const QualityMetrics* q = o.quality ? &*o.quality : nullptr;
  const auto measure = [&](const char* key, double QualityMetrics::*value) {
    j[key] = q ? JsonReal(q->*value, "%.9g") : Json(nullptr);
  };
  measure("psnr_hole_damaged", &QualityMetrics::psnrHoleDamaged);
  measure("psnr_hole_result", &QualityMetrics::psnrHoleResult);
  measure("ssim_damaged", &QualityMetrics::ssimDamaged);
  measure("ssim_result", &QualityMetrics::ssimResult);
  measure("ssim_box_damaged", &QualityMetrics::ssimBoxDamaged);
  measure("ssim_box_result", &QualityMetrics::ssimBoxResult);
  if (q && q->hasBox)
    j["mask_box"] = Json::array({q->box.x0, q->box.y0, q->box.x1, q->box.y1});
  else
    j["mask_box"] = nullptr;
  const auto errors = [&](const char* mae, const char* channels, MaskedErrors QualityMetrics::*e) {
    if (!q) {
      j[mae] = nullptr;
      j[channels] = nullptr;
      return;
    }
    const MaskedErrors& m = q->*e;
    j[mae] = JsonReal(m.meanAbsolute, "%.9g");
    j[channels] = Json::array({JsonReal(m.channelPsnr[0], "%.9g"), JsonReal(m.channelPsnr[1], "%.9g"),
                               JsonReal(m.channelPsnr[2], "%.9g")});
  };
  errors("mae_hole_damaged", "psnr_hole_damaged_rgb", &QualityMetrics::holeDamaged);
  errors("mae_hole_result", "psnr_hole_result_rgb", &QualityMetrics::holeResult);
  j["estimated_psnr_hole"] = JsonReal(o.estimatedPsnr, "%.9g");
  if (o.fill && o.fill->automatic) {
    const AutoReport& a = *o.fill->automatic;
    Json choice;
    choice["fill"] = a.single >= 0 ? Json(a.candidates[std::size_t(a.single)]) : Json("per region");
    choice["held_out_psnr"] = JsonReal(a.heldOutPsnr, "%.9g");
    choice["held_out_pixels"] = a.heldOutPixels;
    Json candidates = Json::array();
    for (std::size_t c = 0; c < a.candidates.size(); ++c)
      candidates.push_back({{"fill", a.candidates[c]},
                            {"held_out_psnr", JsonReal(a.candidateHeldOutPsnr[c], "%.9g")},
                            {"estimated_psnr_hole", JsonReal(a.candidateEstimatedPsnr[c], "%.9g")}});
    choice["candidates"] = candidates;
    Json regions = Json::array();
    for (const AutoRegion& r : a.regions)
      regions.push_back({{"pixels", r.pixels},
                         {"box", Json::array({r.box.x0, r.box.y0, r.box.x1, r.box.y1})},
                         {"fill", a.candidates[std::size_t(r.candidate)]},
                         {"held_out_psnr", JsonReal(r.heldOutPsnr, "%.9g")}});
    choice["regions"] = regions;
    j["auto_choice"] = choice;
  }
  return j;
}

std::string ProgressLine(const RunProgress& p) {
  if (!p.automatic || !p.measured) return std::string();
  // Without an original there is no PSNR to show: the settle rule's measure instead.
  if (p.settling)
    return "cycle " + std::to_string(p.cycle) + ": mean change " + Format("%.6g", p.meanChange);
  if (p.heldOut)
    return "cycle " + std::to_string(p.cycle) + ": held-out psnr " + Format("%.6g", double(p.psnr));
  return "cycle " + std::to_string(p.cycle) + ": psnr " + Format("%.6g", double(p.psnr));
}
