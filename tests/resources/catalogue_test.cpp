// Reads the resources of the built launcher through the resource API, as
// the program and the shell see them, and checks the catalogue's rules.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "launcher/installing_plan.h"
#include "tests/support/files.h"
#include "tests/support/image_resources.h"

namespace {

class LauncherImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { image = new ImageResources(executableDir() + L"\\brackenhue-setup.exe"); }
  static void TearDownTestSuite() { delete image; }

  void SetUp() override {
    ASSERT_TRUE(image->loaded()) << "cannot load brackenhue-setup.exe";
    module = image->module();
  }

  static std::string resource(const wchar_t* name, const wchar_t* type) { return image->get(name, type); }

  static ImageResources* image;
  HMODULE module = nullptr;
};
ImageResources* LauncherImage::image = nullptr;

// One decoded bitmap resource: header fields, and pixels top row first.
struct Bitmap {
  BITMAPINFOHEADER header{};
  std::vector<std::vector<RGBQUAD>> rows;  // rgbReserved holds alpha for 32 bits
};

Bitmap decode(const std::string& bytes) {
  Bitmap bitmap;
  if (bytes.size() < sizeof(BITMAPINFOHEADER)) return bitmap;
  std::memcpy(&bitmap.header, bytes.data(), sizeof bitmap.header);
  const BITMAPINFOHEADER& h = bitmap.header;
  const int bytesPerPixel = h.biBitCount / 8;
  const size_t stride = (static_cast<size_t>(h.biWidth) * bytesPerPixel + 3) & ~size_t{3};
  if (h.biHeight <= 0 || bytesPerPixel < 3 || h.biSize + stride * h.biHeight > bytes.size()) return bitmap;
  for (int y = h.biHeight - 1; y >= 0; --y) {  // bottom-up storage
    const unsigned char* row = reinterpret_cast<const unsigned char*>(bytes.data()) + h.biSize + stride * y;
    std::vector<RGBQUAD> pixels;
    for (int x = 0; x < h.biWidth; ++x) {
      const unsigned char* p = row + x * bytesPerPixel;
      pixels.push_back({p[0], p[1], p[2], static_cast<BYTE>(bytesPerPixel == 4 ? p[3] : 255)});
    }
    bitmap.rows.push_back(pixels);
  }
  return bitmap;
}

bool same(const RGBQUAD& a, const RGBQUAD& b) {
  return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
}
bool black(const RGBQUAD& p) { return p.rgbRed == 0 && p.rgbGreen == 0 && p.rgbBlue == 0; }

struct BitmapRule {
  const wchar_t* name;
  int width, height, bits;
  size_t size;
};

const BitmapRule kBitmaps[] = {
    {L"SPLASH", 420, 270, 32, 453640},       {L"PROGRESS_0", 420, 30, 32, 50440},
    {L"PROGRESS_10", 420, 30, 32, 50440},    {L"PROGRESS_20", 420, 30, 32, 50440},
    {L"PROGRESS_30", 420, 30, 32, 50440},    {L"PROGRESS_40", 420, 30, 32, 50440},
    {L"PROGRESS_50", 420, 30, 32, 50440},    {L"PROGRESS_60", 420, 30, 32, 50440},
    {L"PROGRESS_70", 420, 30, 32, 50440},    {L"PROGRESS_80", 420, 30, 32, 50440},
    {L"PROGRESS_90", 420, 30, 32, 50440},    {L"PROGRESS_100", 420, 30, 32, 50440},
    {L"STEP_TMP", 420, 24, 24, 30280},       {L"STEP_XJAVA", 420, 24, 24, 30280},
    {L"STEP_SEARCHING", 420, 24, 24, 30280}, {L"STEP_XJAR", 420, 24, 24, 30280},
    {L"STEP_LAUNCHING", 420, 24, 24, 30280},
};

TEST_F(LauncherImage, EveryBitmapHasItsSizeAndFormat) {
  for (const BitmapRule& expected : kBitmaps) {
    SCOPED_TRACE(narrow(expected.name));
    std::string bytes = resource(expected.name, MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    ASSERT_EQ(bytes.size(), expected.size);
    Bitmap bitmap = decode(bytes);
    const BITMAPINFOHEADER& h = bitmap.header;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, expected.width);
    EXPECT_EQ(h.biHeight, expected.height) << "positive height: rows bottom-up";
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, expected.bits);
    EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(h.biClrUsed, 0u) << "no colour table";
    ASSERT_EQ(bitmap.rows.size(), static_cast<size_t>(expected.height));
    if (expected.bits == 32) {
      int notOpaque = 0;
      for (const auto& row : bitmap.rows)
        for (const RGBQUAD& p : row) notOpaque += p.rgbReserved != 255;
      EXPECT_EQ(notOpaque, 0) << "alpha must be 255 everywhere";
    }
  }
}

TEST_F(LauncherImage, ProgressStripsFillTheirBarAndShareTheGround) {
  Bitmap first = decode(resource(L"PROGRESS_0", MAKEINTRESOURCEW(2)));
  ASSERT_EQ(first.rows.size(), 30u);
  for (int n = 0; n <= 100; n += 10) {
    SCOPED_TRACE("PROGRESS_" + std::to_string(n));
    Bitmap strip = decode(resource(widen("PROGRESS_" + std::to_string(n)).c_str(), MAKEINTRESOURCEW(2)));
    ASSERT_EQ(strip.rows.size(), 30u);
    const int filled = n * 420 / 100;
    const RGBQUAD dark = strip.rows[0][0], bright = strip.rows[0][419];
    if (n > 0 && n < 100) {
      EXPECT_LT(dark.rgbGreen, bright.rgbGreen) << "the filled part is the darker green";
    }
    if (n > 0) {
      EXPECT_GT(dark.rgbGreen, dark.rgbRed) << "the filled part is green";
    }
    if (n < 100) {
      EXPECT_GT(bright.rgbGreen, bright.rgbRed) << "the empty part is green";
    }
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 420; ++x) {
        const RGBQUAD& expected = x < filled ? (n > 0 ? dark : bright) : bright;
        if (!same(strip.rows[y][x], expected)) {
          ADD_FAILURE() << "bar pixel " << x << "," << y << " is not the " << (x < filled ? "dark" : "bright")
                        << " green; filled columns should be " << filled;
          y = 6;
          break;
        }
      }
    }
    for (int y = 6; y < 30; ++y) {
      for (int x = 0; x < 420; ++x) {
        if (!same(strip.rows[y][x], first.rows[y][x])) {
          ADD_FAILURE() << "ground pixel " << x << "," << y << " differs from PROGRESS_0";
          y = 30;
          break;
        }
      }
    }
  }
  // The two greens are the same in every strip.
  Bitmap half = decode(resource(L"PROGRESS_50", MAKEINTRESOURCEW(2)));
  Bitmap full = decode(resource(L"PROGRESS_100", MAKEINTRESOURCEW(2)));
  EXPECT_TRUE(same(full.rows[0][0], half.rows[0][0]));
  EXPECT_TRUE(same(first.rows[0][0], half.rows[0][419]));
}

TEST_F(LauncherImage, LabelsAreNearWhiteTextOnBlackInTheirPlace) {
  for (const BitmapRule& expected : kBitmaps) {
    if (expected.bits != 24) continue;
    SCOPED_TRACE(narrow(expected.name));
    Bitmap label = decode(resource(expected.name, MAKEINTRESOURCEW(2)));
    ASSERT_EQ(label.rows.size(), 24u);
    int blackPixels = 0, left = 420, top = 24, bottom = -1, brightest = 0;
    for (int y = 0; y < 24; ++y) {
      for (int x = 0; x < 420; ++x) {
        const RGBQUAD& p = label.rows[y][x];
        if (black(p)) {
          ++blackPixels;
          continue;
        }
        left = std::min(left, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        brightest = std::max(brightest, std::min({+p.rgbRed, +p.rgbGreen, +p.rgbBlue}));
        EXPECT_TRUE(p.rgbRed == p.rgbGreen && p.rgbGreen == p.rgbBlue) << "glyph pixel " << x << "," << y
                                                                       << " is not grey";
      }
    }
    const double share = 100.0 * blackPixels / (420 * 24);
    EXPECT_GE(share, 91.0);
    EXPECT_LE(share, 95.0);
    EXPECT_EQ(left, 2) << "text starts 2 pixels from the left edge";
    EXPECT_GE(top, 5);
    EXPECT_LE(bottom, 21);
    EXPECT_GE(brightest, 224) << "glyphs are near-white";
  }
}

TEST_F(LauncherImage, IconGroupHasFiveImagesWithTheirMasks) {
  std::string group = resource(L"MAINICON", MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
  ASSERT_GE(group.size(), 6u);
  const unsigned char* g = reinterpret_cast<const unsigned char*>(group.data());
  const int count = g[4] | g[5] << 8;
  ASSERT_EQ(count, 5);
  ASSERT_EQ(group.size(), 6u + 14u * 5u);
  const struct {
    int size;
    size_t bytes;
  } expected[] = {{128, 67624}, {48, 9640}, {32, 4264}, {24, 2440}, {16, 1128}};
  std::set<int> ids;
  for (int i = 0; i < 5; ++i) {
    const unsigned char* e = g + 6 + 14 * i;
    const int width = e[0] ? e[0] : 256, bits = e[6] | e[7] << 8, id = e[12] | e[13] << 8;
    SCOPED_TRACE("icon image " + std::to_string(i));
    EXPECT_EQ(width, expected[i].size);
    EXPECT_EQ(bits, 32);
    ids.insert(id);
    std::string image = resource(MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3) /* RT_ICON */);
    EXPECT_EQ(image.size(), expected[i].bytes);
    BITMAPINFOHEADER h{};
    ASSERT_GE(image.size(), sizeof h);
    std::memcpy(&h, image.data(), sizeof h);
    EXPECT_EQ(h.biWidth, expected[i].size);
    EXPECT_EQ(h.biHeight, 2 * expected[i].size) << "colour image plus AND mask";
    EXPECT_EQ(h.biBitCount, 32);
  }
  EXPECT_EQ(ids, (std::set<int>{1, 2, 3, 4, 5}));
}

// Collects every resource as "type/name/language".
BOOL CALLBACK addLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) {
  reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
  return TRUE;
}
std::wstring nameText(LPCWSTR name) {
  return IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<uintptr_t>(name)) : std::wstring(name);
}
BOOL CALLBACK addName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR out) {
  std::vector<WORD> languages;
  EnumResourceLanguagesW(module, type, name, addLanguage, reinterpret_cast<LONG_PTR>(&languages));
  auto& all = *reinterpret_cast<std::map<std::wstring, std::vector<WORD>>*>(out);
  all[nameText(type) + L"/" + nameText(name)] = languages;
  return TRUE;
}
BOOL CALLBACK addType(HMODULE module, LPWSTR type, LONG_PTR out) {
  EnumResourceNamesW(module, type, addName, out);
  return TRUE;
}

TEST_F(LauncherImage, NothingElseAndAllInUsEnglish) {
  std::map<std::wstring, std::vector<WORD>> all;
  EnumResourceTypesW(module, addType, reinterpret_cast<LONG_PTR>(&all));
  int chunks = 0;
  for (const auto& [key, languages] : all) {
    SCOPED_TRACE(narrow(key));
    EXPECT_EQ(languages, std::vector<WORD>{1033});
    const std::wstring type = key.substr(0, key.find(L'/'));
    EXPECT_TRUE(type == L"#2" || type == L"#3" || type == L"#14" || type == L"EXE" || type == L"JAR" ||
                key == L"#10/RUNTIME_FACTS")
        << "unexpected resource type";
    if (type == L"EXE" || type == L"JAR") ++chunks;
  }
  EXPECT_EQ(all.count(L"#14/MAINICON"), 1u);
  // The build made the runtime archive (the demo runtime), so it knows its
  // size and deepest path and hands them to the launcher.
  ASSERT_EQ(all.count(L"#10/RUNTIME_FACTS"), 1u);
  const RuntimeFacts facts = readRuntimeFacts(resource(L"RUNTIME_FACTS", MAKEINTRESOURCEW(10)));
  EXPECT_GT(facts.unpackedBytes, 0u);
  EXPECT_GE(facts.longestPath, std::string("jre\\bin\\javaw.exe").size());
  EXPECT_EQ(all.size(), 17u + 5u + 1u + 1u + chunks);
}

// The chunks, joined in order, give the inputs byte for byte; each is 8 MiB
// but the last; the payload ends at the first missing index.
TEST_F(LauncherImage, ChunksJoinToTheInputs) {
  const struct {
    const char* base;
    const wchar_t* type;
    const wchar_t* input;
  } payloads[] = {{"JAVA", L"EXE", L"runtime.exe"}, {"JAR", L"JAR", L"installer.jar"}};
  for (const auto& p : payloads) {
    SCOPED_TRACE(p.base);
    std::string input;
    ASSERT_TRUE(readFile(executableDir() + L"\\fixtures\\" + p.input, &input));
    std::string joined;
    const int count = image->chunkCount(p.base, p.type);
    for (int index = 1; index <= count; ++index) {
      std::string chunk = resource(ImageResources::chunk(p.base, index).c_str(), p.type);
      joined += chunk;
      if (index < count) {
        EXPECT_EQ(chunk.size(), 8u * 1024 * 1024) << "chunk " << index;
      }
    }
    EXPECT_EQ(count, static_cast<int>((input.size() + 8 * 1024 * 1024 - 1) / (8 * 1024 * 1024)));
    EXPECT_TRUE(joined == input) << "joined " << joined.size() << " bytes, input " << input.size();
  }
  EXPECT_EQ(resource(L"JAVA_1", L"JAR"), "") << "a chunk name with the other payload's type";
  EXPECT_EQ(resource(L"JAR_1", L"EXE"), "");
  EXPECT_EQ(resource(L"PROGRESS_5", MAKEINTRESOURCEW(2)), "");
  EXPECT_EQ(resource(L"PROGRESS_95", MAKEINTRESOURCEW(2)), "");
}

}  // namespace
