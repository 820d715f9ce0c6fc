// The result lines and their JSON form. The text forms are the tool's own since
// its first version; the JSON numbers are made from the same texts.
#include "cli/report.h"

#include <cmath>
#include <cstdio>

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

std::string ResultLines(const RunOutcome& o, bool metrics) {
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
  }
  return s;
}

Json ResultJson(const RunOutcome& o) {
  const CDialogFields& f = o.fields;
  Json j;
  j["mask_pixels"] = f.m_nMaskPixels;
  j["psnr_damaged"] = JsonFloat(f.m_fPsnrDamaged);
  j["psnr_result"] = JsonFloat(f.m_fPsnrResult);
  j["iterations"] = f.m_nTotalIter;
  j["seconds"] = JsonReal(double(f.m_fSeconds), "%.3f");
  j["method"] = MethodName(o.method);
  j["stopped"] = o.stopped;
  if (o.automatic) j["rule"] = o.settled ? "settle" : "psnr";
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
  return j;
}

std::string ProgressLine(const RunProgress& p) {
  if (!p.automatic || !p.measured) return std::string();
  // Without an original there is no PSNR to show: the settle rule's measure instead.
  if (p.settling)
    return "cycle " + std::to_string(p.cycle) + ": mean change " + Format("%.6g", p.meanChange);
  return "cycle " + std::to_string(p.cycle) + ": psnr " + Format("%.6g", double(p.psnr));
}
