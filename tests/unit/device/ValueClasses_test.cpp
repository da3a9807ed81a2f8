// The device value classes as the driver and a module use them: defaults,
// text and vector operations, deep copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/DeviceValues.h"

namespace {

using namespace Vexil::Device_Cpp;

TEST(DeviceVector, ByteVectorResizeZeroesEveryByteOtherVectorsKeepTheirElements) {
  IUintVector8 bytes{1, 2, 3, 4};
  bytes.resize(6);
  EXPECT_EQ(bytes.Items(), (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0}));
  bytes.Items() = {9, 8, 7};
  bytes.resize(2);
  EXPECT_EQ(bytes.Items(), (std::vector<std::uint8_t>{0, 0}));

  IFloatVector floats{1.5f, 2.5f};
  floats.resize(3);
  EXPECT_EQ(floats.Items(), (std::vector<float>{1.5f, 2.5f, 0.0f}));
  floats.resize(1);
  EXPECT_EQ(floats.Items(), (std::vector<float>{1.5f}));

  IStringVector texts{IString("ALL")};
  texts.resize(2);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_STREQ(texts.at(0).c_str(), "ALL");
  EXPECT_EQ(texts.at(1).length(), 0u);
}

TEST(DeviceVector, IndexAtOrAboveCountReachesAThrowawayDefaultElement) {
  IFloatVector floats{1.0f, 2.0f};
  floats.at(2) = 7.0f;
  floats.at(1000000) = 8.0f;
  EXPECT_EQ(floats.at(5), 0.0f) << "every out-of-range access starts from a default element";
  EXPECT_EQ(floats.Items(), (std::vector<float>{1.0f, 2.0f}));

  SpectrumContentVector contents;
  contents.at(0).geometry().Set("r15as15");
  contents.at(0).contents().resize(3);
  EXPECT_EQ(contents.size(), 0u);
  EXPECT_EQ(contents.at(0).geometry().length(), 0u);
  EXPECT_EQ(contents.at(0).contents().size(), 0u);
}

TEST(DeviceText, SetReplacesContentAndNullMeansEmpty) {
  IString text("first");
  EXPECT_STREQ(text.c_str(), "first");
  EXPECT_EQ(text.length(), 5u);
  text.Set("2nd");
  EXPECT_EQ(text.Text(), "2nd");
  EXPECT_EQ(text.length(), 3u);
  text.Set(nullptr);
  EXPECT_STREQ(text.c_str(), "");
  EXPECT_EQ(IString(static_cast<const char*>(nullptr)).length(), 0u);
  // Lengths count bytes of UTF-8, not characters.
  EXPECT_EQ(IString("\xC3\xA9").length(), 2u);

  IString32 wide(U"x\U0001F600y");
  EXPECT_EQ(wide.length(), 3u);
  wide.Set(U"ab");
  EXPECT_EQ(wide.Text(), U"ab");
  EXPECT_EQ(wide.c_str()[2], U'\0');
  wide.Set(nullptr);
  EXPECT_EQ(wide.length(), 0u);
}

TEST(DeviceValues, DefaultsAreZeroAndEmpty) {
  IJobDescription job;
  EXPECT_EQ(job.version(), 0);
  EXPECT_EQ(job.identifier().length(), 0u);
  EXPECT_EQ(job.tags().size(), 0u);
  EXPECT_EQ(job.displayTags().size(), 0u);
  EXPECT_EQ(job.sampleCount(), 0);
  EXPECT_EQ(job.comment().length(), 0u);
  EXPECT_EQ(job.referenceName().length(), 0u);
  EXPECT_EQ(job.plannedSampleCount(), 0);

  State state;
  EXPECT_EQ(state.deviceState(), 0);
  EXPECT_EQ(state.time().second(), 0);
  EXPECT_EQ(state.statusData().size(), 0u);
  EXPECT_EQ(state.entities().size(), 0u);

  Texture texture;
  EXPECT_EQ(texture.value0(), 0);
  EXPECT_EQ(texture.value10(), 0);
  SpectralChannelContentType type;
  EXPECT_EQ(type.contentKind(), 0);
  EXPECT_EQ(type.variant(), 0);
  SpectralChannelContentType colour(3, 7);
  EXPECT_EQ(colour.contentKind(), 3);
  EXPECT_EQ(colour.variant(), 7);
}

TEST(DeviceValues, JobInfoCopiesAreDeepInBothDirections) {
  IJobInfo source;
  source.description().identifier().Set("job-1");
  source.description().tags().Items().push_back(Tag(IString("Make"), IString("")));
  source.description().displayTags().Items().push_back(
      Tag32(IString("DisplayName"), IString32(U"job-1")));
  source.description().sampleCount() = 3;
  source.samples().resize(2);
  source.samples().at(1).temperature() = 21.5f;
  source.modeInfo().stateCode() = 2004;
  source.extraData().Items() = {1, 2, 3};

  IJobInfo copy(source);
  copy.description().identifier().Set("changed");
  copy.description().tags().at(0).value().Set("maker");
  copy.description().displayTags().at(0).value().Set(U"other");
  copy.samples().at(1).temperature() = -1.0f;
  copy.samples().resize(5);
  copy.modeInfo().stateCode() = 2000;
  copy.extraData().at(0) = 42;

  EXPECT_STREQ(source.description().identifier().c_str(), "job-1");
  EXPECT_STREQ(source.description().tags().at(0).value().c_str(), "");
  EXPECT_EQ(source.description().displayTags().at(0).value().Text(), U"job-1");
  EXPECT_EQ(source.samples().size(), 2u);
  EXPECT_EQ(source.samples().at(1).temperature(), 21.5f);
  EXPECT_EQ(source.modeInfo().stateCode(), 2004);
  EXPECT_EQ(source.extraData().Items(), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(copy.description().sampleCount(), 3) << "untouched fields are copied";

  // Copy assignment over a filled value, then changing the source.
  IJobInfo assigned;
  assigned.samples().resize(9);
  assigned = copy;
  copy.description().identifier().Set("again");
  copy.extraData().Items().clear();
  EXPECT_STREQ(assigned.description().identifier().c_str(), "changed");
  EXPECT_EQ(assigned.samples().size(), 5u);
  EXPECT_EQ(assigned.extraData().Items(), (std::vector<std::uint8_t>{42, 2, 3}));
}

TEST(DeviceValues, ContentCopiesCarryLabAndImageBytes) {
  SpectrumContentVector spectra;
  spectra.resize(1);
  spectra.at(0).geometry().Set("r45as110");
  spectra.at(0).contents().resize(2);
  spectra.at(0).contents().at(0).spectrum().values().Items() = {0.25f, 0.5f};
  spectra.at(0).contents().at(1).lab().SetLab(40.0f, 1.0f, -2.0f);
  spectra.at(0).contents().at(1).lab().SetCondition(65, 10);

  ImageContentVector images;
  images.resize(1);
  images.at(0).contents().resize(1);
  images.at(0).contents().at(0).exr().data().Items() = {0x76, 0x2f, 0x31, 0x01};

  SpectrumContentVector spectraCopy = spectra;
  ImageContentVector imagesCopy;
  imagesCopy = images;
  spectra.at(0).contents().at(1).lab().SetLab(0.0f, 0.0f, 0.0f);
  spectra.at(0).contents().at(0).spectrum().values().at(0) = 9.0f;
  images.at(0).contents().at(0).exr().data().resize(0);

  const Lab& lab = spectraCopy.at(0).contents().at(1).lab();
  EXPECT_EQ(*lab.GetL(), 40.0f);
  EXPECT_EQ(*lab.GetA(), 1.0f);
  EXPECT_EQ(*lab.GetB(), -2.0f);
  EXPECT_EQ(*lab.GetCondition()->GetIlluminant(), 65);
  EXPECT_EQ(*lab.GetCondition()->GetObserver(), 10);
  EXPECT_EQ(spectraCopy.at(0).contents().at(0).spectrum().values().Items(),
            (std::vector<float>{0.25f, 0.5f}));
  EXPECT_STREQ(spectraCopy.at(0).geometry().c_str(), "r45as110");
  EXPECT_EQ(imagesCopy.at(0).contents().at(0).exr().data().Items(),
            (std::vector<std::uint8_t>{0x76, 0x2f, 0x31, 0x01}));
}

TEST(Lab, DefaultIsZeroAndGettersPointIntoTheObject) {
  Lab lab;
  EXPECT_EQ(*lab.GetL(), 0.0f);
  EXPECT_EQ(*lab.GetA(), 0.0f);
  EXPECT_EQ(*lab.GetB(), 0.0f);
  EXPECT_EQ(*lab.GetCondition()->GetIlluminant(), 0);
  EXPECT_EQ(*lab.GetCondition()->GetObserver(), 0);

  const float* l = lab.GetL();
  lab.SetLab(12.5f, -3.0f, 4.0f);
  EXPECT_EQ(*l, 12.5f) << "the pointer stays valid and sees later changes";
  EXPECT_EQ(*lab.GetA(), -3.0f);
  EXPECT_EQ(*lab.GetB(), 4.0f);

  Lab other(1.0f, 2.0f, 3.0f);
  other.SetCondition(7, 2);
  lab = other;
  EXPECT_EQ(*lab.GetL(), 1.0f);
  EXPECT_EQ(*lab.GetCondition()->GetIlluminant(), 7);
  EXPECT_EQ(*lab.GetCondition()->GetObserver(), 2);
  EXPECT_NE(lab.GetL(), other.GetL());
}

}  // namespace
