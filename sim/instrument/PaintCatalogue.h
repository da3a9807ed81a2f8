// PaintCatalogue: which paint a job's make stands for.
//
// A make is free text ("Silver metallic", "Pearl White", "Door, left"). Its
// colour word (white, black, silver, grey/gray, red, blue, green, yellow,
// gold, orange, brown, beige; the first one in the text wins) chooses the
// paint's body colour, and the words "metallic", "pearl" and "solid" its
// kind. Without a kind word, silver and gold are metallic and every other
// colour is solid. A make without a colour word gets a colour and kind of
// its own, chosen deterministically from its bytes, as does the empty make.
// Words match whole, ignoring ASCII case; anything that is not an ASCII
// letter separates words, so any bytes are a valid make.
//
// Threads: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace instrument {

// How the paint reflects at different angles.
enum class PaintKind {
  kSolid,     // pigment only: nearly the same colour at every angle
  kMetallic,  // aluminium flakes: bright near the specular direction, dark at the flop
  kPearl,     // interference pigment: a softer flop and a hue that travels with the angle
};

// The spectral shape of a paint's body colour:
// reflectance(λ) = low + (high − low) · shape(λ), where shape is 0 (flat),
// a rising edge 1 / (1 + exp(−(λ − centre) / width)), a falling edge (the
// same with λ mirrored) or a band exp(−((λ − centre) / width)²).
enum class BodyShape { kFlat, kRise, kFall, kBand };

struct BodyColour {
  BodyShape shape = BodyShape::kFlat;
  double low = 0.0;
  double high = 0.0;
  double centreNm = 550.0;
  double widthNm = 50.0;
};

// The colour words, in the order of kColourWords.
enum class ColourWord {
  kWhite,
  kBlack,
  kSilver,
  kGrey,
  kRed,
  kBlue,
  kGreen,
  kYellow,
  kGold,
  kOrange,
  kBrown,
  kBeige,
};

struct PaintChoice {
  ColourWord colour = ColourWord::kGrey;
  PaintKind kind = PaintKind::kSolid;
  bool named = false;  // the make held a colour word
};

// Colour and kind of a make, as described above.
PaintChoice ChoosePaint(std::string_view make);

// The body colour of a colour word.
BodyColour BodyOf(ColourWord colour);

// The word itself ("white", ..., "grey" for kGrey).
const char* ColourWordName(ColourWord colour);

inline constexpr int kColourWordCount = 12;

}  // namespace instrument
