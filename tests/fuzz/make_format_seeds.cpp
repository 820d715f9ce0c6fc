// Writes the seed corpora of fuzz_png_reader and fuzz_jpeg_reader into
// FOLDER/fuzz_png_reader and FOLDER/fuzz_jpeg_reader, with the same builders the
// tests use (PNG by libpng, JPEG by libjpeg):
//
//   build/tests/make_format_seeds tests/fuzz/corpus
//
// PNG: every colour type at every depth, some interlaced, with palette
// transparency and gamma chunks, and a few broken files (cut short, a wrong CRC,
// an IHDR of 100000 x 100000, an unknown critical chunk, a palette index beyond
// the palette). JPEG: baseline 4:2:0 and 4:4:4, greyscale, RGB, progressive,
// arithmetic, restart markers, CMYK, YCCK, and broken files (cut short, bytes
// before EOI, 12-bit precision, a frame of 65000 x 65000).
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/imaging/encoders.h"
#include "tests/support/imaging/test_files.h"

using namespace imagetest;

namespace {

std::string g_folder;
int g_written = 0;

void Write(const std::string& target, const std::string& name,
           const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) {
    std::fprintf(stderr, "the builder gave no bytes for %s\n", name.c_str());
    std::exit(1);
  }
  const std::string dir = g_folder + "/" + target;
  ::mkdir(dir.c_str(), 0777);
  const std::string path = dir + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  std::fclose(f);
  ++g_written;
}

PngSpec Png(int w, int h, int colour, int depth, bool interlaced) {
  PngSpec s;
  s.width = w;
  s.height = h;
  s.colour = colour;
  s.depth = depth;
  s.interlaced = interlaced;
  s.samples = PatternSamples(w, h, PngChannels(colour), depth);
  if (colour == kPalette)
    for (int i = 0; i < (1 << depth); ++i)
      s.palette.push_back({std::uint8_t(i * 37), std::uint8_t(255 - i), std::uint8_t(i * 11)});
  return s;
}

void PngSeeds() {
  const char* names[] = {"grey", "", "rgb", "palette", "greyalpha", "", "rgba"};
  const std::vector<std::pair<int, std::vector<int>>> depths = {
      {kGrey, {1, 2, 4, 8, 16}}, {kRgb, {8, 16}}, {kPalette, {1, 2, 4, 8}},
      {kGreyAlpha, {8, 16}},     {kRgba, {8, 16}}};
  for (const auto& [colour, list] : depths)
    for (int depth : list) {
      const std::string name = names[colour] + std::to_string(depth);
      Write("fuzz_png_reader", name + "_5x3.png", EncodePngLib(Png(5, 3, colour, depth, false)));
      if (depth == 8 || depth == 16 || depth == 1)
        Write("fuzz_png_reader", name + "_interlaced_9x7.png",
              EncodePngLib(Png(9, 7, colour, depth, true)));
    }
  PngSpec trns = Png(4, 4, kPalette, 2, false);
  trns.paletteAlpha = {0, 128, 255};
  trns.gamma = true;
  Write("fuzz_png_reader", "palette_trns_gama_4x4.png", EncodePngLib(trns));
  PngSpec srgb = Png(3, 3, kRgb, 8, false);
  srgb.srgb = true;
  Write("fuzz_png_reader", "rgb8_srgb_3x3.png", EncodePngLib(srgb));

  const std::vector<std::uint8_t> good = EncodePngLib(Png(6, 5, kRgb, 8, false));
  const std::vector<PngChunk> chunks = PngChunks(good);
  Write("fuzz_png_reader", "bad_cut_in_idat.png",
        std::vector<std::uint8_t>(good.begin(), good.begin() + long(chunks[1].offset + 20)));
  Write("fuzz_png_reader", "bad_no_iend_crc.png",
        std::vector<std::uint8_t>(good.begin(), good.end() - 4));
  std::vector<std::uint8_t> crc = good;
  crc[chunks[1].end() - 1] ^= 1;
  Write("fuzz_png_reader", "bad_idat_crc.png", crc);
  Write("fuzz_png_reader", "bad_huge_ihdr.png", PngHeaderOnly(100000, 100000));
  std::vector<std::uint8_t> unknown(good.begin(), good.begin() + long(chunks[1].offset));
  AppendPngChunk(&unknown, "QQQQ", {1, 2, 3, 4});
  unknown.insert(unknown.end(), good.begin() + long(chunks[1].offset), good.end());
  Write("fuzz_png_reader", "bad_unknown_critical.png", unknown);
  PngSpec index = Png(4, 1, kPalette, 8, false);
  index.palette.resize(2);
  index.samples = {0, 1, 2, 3};
  Write("fuzz_png_reader", "bad_palette_index.png", EncodePngLib(index));
}

void JpegSeeds() {
  const RgbImage picture = SmoothImage(13, 9);
  const auto write = [](const std::string& name, const JpegSpec& spec) {
    Write("fuzz_jpeg_reader", name, EncodeJpegLib(spec));
  };
  JpegSpec spec = JpegOf(picture, 75);
  write("baseline420_13x9.jpg", spec);
  spec.subsample = false;
  write("baseline444_13x9.jpg", spec);
  spec.space = JpegSpace::kRgb;
  write("rgb_13x9.jpg", spec);
  spec = JpegOf(picture, 75);
  spec.progressive = true;
  write("progressive_13x9.jpg", spec);
  spec.arithmetic = true;
  write("progressive_arithmetic_13x9.jpg", spec);
  spec = JpegOf(PatternImage(24, 16), 60);
  spec.arithmetic = true;
  write("arithmetic_24x16.jpg", spec);
  spec.arithmetic = false;
  spec.restartRows = 1;
  write("restart_24x16.jpg", spec);

  JpegSpec grey;
  grey.width = 11;
  grey.height = 10;
  grey.space = JpegSpace::kGrey;
  for (int i = 0; i < 110; ++i) grey.samples.push_back(std::uint8_t(i * 2));
  write("grey_11x10.jpg", grey);
  grey.progressive = true;
  write("grey_progressive_11x10.jpg", grey);

  JpegSpec cmyk;
  cmyk.width = 8;
  cmyk.height = 8;
  cmyk.space = JpegSpace::kCmyk;
  cmyk.samples.assign(8 * 8 * 4, 90);
  write("bad_cmyk_8x8.jpg", cmyk);
  cmyk.space = JpegSpace::kYcck;
  write("bad_ycck_8x8.jpg", cmyk);

  const std::vector<std::uint8_t> good = EncodeJpegLib(JpegOf(PatternImage(16, 16), 80));
  const std::size_t eoi = JpegEoi(good);
  const std::size_t sos = JpegMarker(good, 0xDA);
  Write("fuzz_jpeg_reader", "bad_cut_in_scan.jpg",
        std::vector<std::uint8_t>(good.begin(), good.begin() + long((sos + eoi) / 2)));
  Write("fuzz_jpeg_reader", "bad_no_eoi.jpg",
        std::vector<std::uint8_t>(good.begin(), good.begin() + long(eoi)));
  std::vector<std::uint8_t> extra = good;
  extra.insert(extra.begin() + long(eoi), 16, 0x5A);
  Write("fuzz_jpeg_reader", "bad_bytes_before_eoi.jpg", extra);
  const std::size_t sof = JpegMarker(good, 0xC0);
  std::vector<std::uint8_t> patched = good;
  patched[sof + 2] = 12;
  Write("fuzz_jpeg_reader", "bad_precision12.jpg", patched);
  patched = good;
  for (std::size_t at : {sof + 3, sof + 5}) {
    patched[at] = 0xFD;
    patched[at + 1] = 0xE8;
  }
  Write("fuzz_jpeg_reader", "bad_huge_frame.jpg", patched);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER (tests/fuzz/corpus)\n", argv[0]);
    return 2;
  }
  g_folder = argv[1];
  PngSeeds();
  JpegSeeds();
  std::printf("%d seed files written under %s\n", g_written, g_folder.c_str());
  return 0;
}
