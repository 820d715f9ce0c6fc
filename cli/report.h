// What a run prints: the five result lines (and the quality lines of --metrics),
// or the same as one JSON object.
#pragma once

#include <string>

#include "cli/json_out.h"
#include "cli/run.h"

// A float as the result lines show it: nine significant digits, or inf, -inf, nan.
std::string NumberText(double value);

// "mask pixels: ...", "psnr damaged: ...", "psnr result: ...", "iterations: ...",
// "seconds: ...", each with its line end; with `metrics` the six quality lines
// after them (the outcome must hold the measures).
std::string ResultLines(const RunResult& outcome, bool metrics);

// The result fields; the quality keys are null when the outcome has no measures.
// Keys: mask_pixels, psnr_damaged, psnr_result, iterations, seconds, method,
// stopped, rule (the automatic mode only: "psnr" or "settle"), psnr_hole_damaged,
// psnr_hole_result, ssim_damaged, ssim_result, ssim_box_damaged, ssim_box_result,
// mask_box ([x0, y0, x1, y1], x1 and y1 one past the box; null for an empty mask),
// mae_hole_damaged, psnr_hole_damaged_rgb, mae_hole_result, psnr_hole_result_rgb
// (null without measures), estimated_psnr_hole (the fills' held-out estimate; null
// for the transport scheme) and, for --method auto, auto_choice: the fill chosen
// ("per region" when the regions differ), its held-out PSNR and pixels, each
// candidate's held-out PSNR and estimate, and each region's pixels, box, fill and
// held-out PSNR.
Json ResultJson(const RunResult& outcome);

// The line standard error shows on a terminal for a measured automatic cycle; ""
// for any other report.
std::string ProgressLine(const RunProgress& progress);
