#include "sim/instrument/PaintCatalogue.h"

#include <array>
#include <string>

#include "sim/instrument/PaintModel.h"

namespace instrument {
namespace {

struct Word {
  const char* text;
  ColourWord colour;
};

constexpr Word kColourWords[] = {
    {"white", ColourWord::kWhite}, {"black", ColourWord::kBlack},   {"silver", ColourWord::kSilver},
    {"grey", ColourWord::kGrey},   {"gray", ColourWord::kGrey},     {"red", ColourWord::kRed},
    {"blue", ColourWord::kBlue},   {"green", ColourWord::kGreen},   {"yellow", ColourWord::kYellow},
    {"gold", ColourWord::kGold},   {"orange", ColourWord::kOrange}, {"brown", ColourWord::kBrown},
    {"beige", ColourWord::kBeige},
};

// Body colours chosen so that a solid paint of each word lands where a
// person expects it under D65 (lightness and hue at r45as45), with the
// smooth spectra of real pigments.
constexpr std::array<BodyColour, kColourWordCount> kBodies = {{
    {BodyShape::kFlat, 0.86, 0.86, 550, 50},    // white
    {BodyShape::kFlat, 0.012, 0.012, 550, 50},  // black
    {BodyShape::kFlat, 0.95, 0.95, 550, 50},    // silver (flakes set its lightness)
    {BodyShape::kFlat, 0.20, 0.20, 550, 50},    // grey
    {BodyShape::kRise, 0.045, 0.70, 598, 14},   // red
    {BodyShape::kBand, 0.035, 0.50, 445, 75},   // blue
    {BodyShape::kBand, 0.04, 0.38, 525, 45},    // green
    {BodyShape::kRise, 0.06, 0.80, 505, 14},    // yellow
    {BodyShape::kRise, 0.12, 0.62, 530, 25},    // gold
    {BodyShape::kRise, 0.05, 0.80, 570, 13},    // orange
    {BodyShape::kRise, 0.05, 0.28, 590, 45},    // brown
    {BodyShape::kRise, 0.48, 0.78, 500, 55},    // beige
}};

constexpr const char* kNames[kColourWordCount] = {"white", "black",  "silver", "grey",
                                                  "red",   "blue",   "green",  "yellow",
                                                  "gold",  "orange", "brown",  "beige"};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

PaintChoice ChoosePaint(std::string_view make) {
  PaintChoice choice;
  std::optional<PaintKind> kind;
  std::size_t i = 0;
  while (i < make.size()) {
    if (!IsLetter(make[i])) {
      ++i;
      continue;
    }
    std::string word;
    while (i < make.size() && IsLetter(make[i])) word.push_back(Lower(make[i++]));
    if (!kind) {
      if (word == "metallic") kind = PaintKind::kMetallic;
      if (word == "pearl") kind = PaintKind::kPearl;
      if (word == "solid") kind = PaintKind::kSolid;
    }
    if (!choice.named) {
      for (const Word& w : kColourWords) {
        if (word == w.text) {
          choice.colour = w.colour;
          choice.named = true;
          break;
        }
      }
    }
  }
  const std::uint64_t hash = HashBytes(make);
  if (!choice.named) {
    choice.colour = static_cast<ColourWord>(hash % kColourWordCount);
  }
  if (kind) {
    choice.kind = *kind;
  } else if (!choice.named) {
    // Unnamed makes spread over the kinds, effect paints the most common as on cars.
    const std::uint64_t k = (hash >> 16) % 10;
    choice.kind = k < 5 ? PaintKind::kMetallic : k < 7 ? PaintKind::kPearl : PaintKind::kSolid;
  } else if (choice.colour == ColourWord::kSilver || choice.colour == ColourWord::kGold) {
    choice.kind = PaintKind::kMetallic;
  } else {
    choice.kind = PaintKind::kSolid;
  }
  return choice;
}

BodyColour BodyOf(ColourWord colour) { return kBodies[static_cast<std::size_t>(colour)]; }

const char* ColourWordName(ColourWord colour) { return kNames[static_cast<std::size_t>(colour)]; }

}  // namespace instrument
