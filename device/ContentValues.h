// The value classes of a measured sample's contents: images (Exr, Texture,
// ImageContentData, ImageContent, ...) and spectral items (Spectrum,
// SpectralChannelContentType, SpectralContentData, SpectrumContent, ...),
// with their vectors.
//
// In a GetSample answer, SpectrumContent::contents() entry 0 is the spectral
// item (31 values) and entry 1 the L*a*b* item, in the order of the requested
// content kinds; ImageContent::contents() entry 0 holds the EXR image.
// Nothing here checks that a device kept to this: readers check the counts.
//
// Rules shared by every value class (slot order, modules use virtual
// operations only, deep copies): see JobValues.h.
//
// Threads: a value belongs to one thread at a time; no locks.
#pragma once

#include <cstdint>

#include "device/BoundaryAbi.h"
#include "device/DeviceVector.h"
#include "device/IString.h"
#include "device/Lab.h"

namespace Vexil::Device_Cpp {

// Device-private description of an EXR image.
class ExrDescription {
 public:
  ExrDescription() = default;
  ExrDescription(const ExrDescription&) = default;
  ExrDescription(ExrDescription&&) = default;
  ExrDescription& operator=(const ExrDescription&) = default;
  ExrDescription& operator=(ExrDescription&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(ExrDescription);
  virtual IUintVector8& header();

  // Read access for the driver.
  const IUintVector8& header() const { return header_; }

 private:
  IUintVector8 header_;
};

// An image as an EXR file.
class Exr {
 public:
  Exr() = default;
  Exr(const Exr&) = default;
  Exr(Exr&&) = default;
  Exr& operator=(const Exr&) = default;
  Exr& operator=(Exr&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(Exr);
  virtual ExrDescription& description();
  virtual IUintVector8& data();  // the EXR file bytes

  // Read access for the driver.
  const ExrDescription& description() const { return description_; }
  const IUintVector8& data() const { return data_; }

 private:
  ExrDescription description_;
  IUintVector8 data_;
};

// Name of a texture evaluation.
class TextureDescription {
 public:
  TextureDescription() = default;
  TextureDescription(const TextureDescription&) = default;
  TextureDescription(TextureDescription&&) = default;
  TextureDescription& operator=(const TextureDescription&) = default;
  TextureDescription& operator=(TextureDescription&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(TextureDescription);
  virtual IString& name();

  // Read access for the driver.
  const IString& name() const { return name_; }

 private:
  IString name_;
};

// Texture values the device derives from an image. The driver never reads
// them; they are 0 until the device writes them.
class Texture {
 public:
  Texture() = default;
  Texture(const Texture&) = default;
  Texture(Texture&&) = default;
  Texture& operator=(const Texture&) = default;
  Texture& operator=(Texture&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(Texture);
  virtual TextureDescription& description();
  virtual std::int32_t& value0();
  virtual std::int32_t& value1();
  virtual std::int32_t& value2();
  virtual std::int32_t& value3();
  virtual std::int32_t& value4();
  virtual std::int32_t& value5();
  virtual std::int32_t& value6();
  virtual std::int32_t& value7();
  virtual std::int32_t& value8();
  virtual std::int32_t& value9();
  virtual std::int32_t& value10();

  // Read access for the driver.
  const TextureDescription& description() const { return description_; }
  const std::int32_t& value0() const { return value0_; }
  const std::int32_t& value1() const { return value1_; }
  const std::int32_t& value2() const { return value2_; }
  const std::int32_t& value3() const { return value3_; }
  const std::int32_t& value4() const { return value4_; }
  const std::int32_t& value5() const { return value5_; }
  const std::int32_t& value6() const { return value6_; }
  const std::int32_t& value7() const { return value7_; }
  const std::int32_t& value8() const { return value8_; }
  const std::int32_t& value9() const { return value9_; }
  const std::int32_t& value10() const { return value10_; }

 private:
  TextureDescription description_;
  std::int32_t value0_{};
  std::int32_t value1_{};
  std::int32_t value2_{};
  std::int32_t value3_{};
  std::int32_t value4_{};
  std::int32_t value5_{};
  std::int32_t value6_{};
  std::int32_t value7_{};
  std::int32_t value8_{};
  std::int32_t value9_{};
  std::int32_t value10_{};
};

// A named quality-control parameter of a texture evaluation.
class QCTextureParameter {
 public:
  QCTextureParameter() = default;
  QCTextureParameter(const QCTextureParameter&) = default;
  QCTextureParameter(QCTextureParameter&&) = default;
  QCTextureParameter& operator=(const QCTextureParameter&) = default;
  QCTextureParameter& operator=(QCTextureParameter&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(QCTextureParameter);
  virtual IString& name();
  virtual IString& value();
  virtual std::int32_t& flags();  // 0 until the device writes it

  // Read access for the driver.
  const IString& name() const { return name_; }
  const IString& value() const { return value_; }
  const std::int32_t& flags() const { return flags_; }

 private:
  IString name_;
  IString value_;
  std::int32_t flags_{};
};

// Quality-control parameters of an image content.
using QCTextureParameterVector = DeviceVector<QCTextureParameter>;
extern template class DeviceVector<QCTextureParameter>;

// One image item of a geometry.
class ImageContentData {
 public:
  ImageContentData() = default;
  ImageContentData(const ImageContentData&) = default;
  ImageContentData(ImageContentData&&) = default;
  ImageContentData& operator=(const ImageContentData&) = default;
  ImageContentData& operator=(ImageContentData&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(ImageContentData);
  virtual std::int32_t& channelType();  // 0 until the device writes it
  virtual Exr& exr();
  virtual Texture& texture();
  virtual QCTextureParameterVector& qcParameters();

  // Read access for the driver.
  const std::int32_t& channelType() const { return channelType_; }
  const Exr& exr() const { return exr_; }
  const Texture& texture() const { return texture_; }
  const QCTextureParameterVector& qcParameters() const { return qcParameters_; }

 private:
  std::int32_t channelType_{};
  Exr exr_;
  Texture texture_;
  QCTextureParameterVector qcParameters_;
};

// Image items of one geometry.
using ImageContentDataVector = DeviceVector<ImageContentData>;
extern template class DeviceVector<ImageContentData>;

// The image items of one measurement geometry.
class ImageContent {
 public:
  ImageContent() = default;
  ImageContent(const ImageContent&) = default;
  ImageContent(ImageContent&&) = default;
  ImageContent& operator=(const ImageContent&) = default;
  ImageContent& operator=(ImageContent&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(ImageContent);
  virtual IString& geometry();                 // geometry name, for example "r45as15"
  virtual ImageContentDataVector& contents();  // entry 0 holds the image

  // Read access for the driver.
  const IString& geometry() const { return geometry_; }
  const ImageContentDataVector& contents() const { return contents_; }

 private:
  IString geometry_;
  ImageContentDataVector contents_;
};

// Image contents of a sample, one per geometry.
using ImageContentVector = DeviceVector<ImageContent>;
extern template class DeviceVector<ImageContent>;

// Wavelength range of a spectrum; 0 until the device writes it.
class SpectrumDescription {
 public:
  SpectrumDescription() = default;
  SpectrumDescription(const SpectrumDescription&) = default;
  SpectrumDescription(SpectrumDescription&&) = default;
  SpectrumDescription& operator=(const SpectrumDescription&) = default;
  SpectrumDescription& operator=(SpectrumDescription&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(SpectrumDescription);
  virtual std::int32_t& firstWavelength();
  virtual std::int32_t& wavelengthStep();

  // Read access for the driver.
  const std::int32_t& firstWavelength() const { return firstWavelength_; }
  const std::int32_t& wavelengthStep() const { return wavelengthStep_; }

 private:
  std::int32_t firstWavelength_{};
  std::int32_t wavelengthStep_{};
};

// A spectrum: its description and its values.
class Spectrum {
 public:
  Spectrum() = default;
  Spectrum(const Spectrum&) = default;
  Spectrum(Spectrum&&) = default;
  Spectrum& operator=(const Spectrum&) = default;
  Spectrum& operator=(Spectrum&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(Spectrum);
  virtual SpectrumDescription& description();
  virtual IFloatVector& values();  // 31 values for the spectral kind

  // Read access for the driver.
  const SpectrumDescription& description() const { return description_; }
  const IFloatVector& values() const { return values_; }

 private:
  SpectrumDescription description_;
  IFloatVector values_;
};

// Kind of a spectral item: contentKind 0 is the spectrum, 3 the L*a*b*
// value. Both fields are 0 by default.
class SpectralChannelContentType {
 public:
  SpectralChannelContentType() = default;
  SpectralChannelContentType(std::uint16_t contentKind, std::uint16_t variant)
      : contentKind_(contentKind), variant_(variant) {}
  SpectralChannelContentType(const SpectralChannelContentType&) = default;
  SpectralChannelContentType(SpectralChannelContentType&&) = default;
  SpectralChannelContentType& operator=(const SpectralChannelContentType&) = default;
  SpectralChannelContentType& operator=(SpectralChannelContentType&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(SpectralChannelContentType);
  virtual std::uint16_t& contentKind();
  virtual std::uint16_t& variant();

  // Read access for the driver.
  const std::uint16_t& contentKind() const { return contentKind_; }
  const std::uint16_t& variant() const { return variant_; }

 private:
  std::uint16_t contentKind_{};
  std::uint16_t variant_{};
};

// Requested spectral item kinds.
using SpectralChannelContentTypeVector = DeviceVector<SpectralChannelContentType>;
extern template class DeviceVector<SpectralChannelContentType>;

// One spectral item of a geometry: a spectrum or an L*a*b* value.
class SpectralContentData {
 public:
  SpectralContentData() = default;
  SpectralContentData(const SpectralContentData&) = default;
  SpectralContentData(SpectralContentData&&) = default;
  SpectralContentData& operator=(const SpectralContentData&) = default;
  SpectralContentData& operator=(SpectralContentData&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(SpectralContentData);
  virtual SpectralChannelContentType& channelType();
  virtual Spectrum& spectrum();
  virtual Lab& lab();

  // Read access for the driver.
  const SpectralChannelContentType& channelType() const { return channelType_; }
  const Spectrum& spectrum() const { return spectrum_; }
  const Lab& lab() const { return lab_; }

 private:
  SpectralChannelContentType channelType_;
  Spectrum spectrum_;
  Lab lab_;
};

// Spectral items of one geometry.
using SpectralContentDataVector = DeviceVector<SpectralContentData>;
extern template class DeviceVector<SpectralContentData>;

// The spectral items of one measurement geometry.
class SpectrumContent {
 public:
  SpectrumContent() = default;
  SpectrumContent(const SpectrumContent&) = default;
  SpectrumContent(SpectrumContent&&) = default;
  SpectrumContent& operator=(const SpectrumContent&) = default;
  SpectrumContent& operator=(SpectrumContent&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(SpectrumContent);
  virtual IString& geometry();                    // geometry name, for example "r15as-45"
  virtual SpectralContentDataVector& contents();  // entry 0 spectrum, entry 1 L*a*b*

  // Read access for the driver.
  const IString& geometry() const { return geometry_; }
  const SpectralContentDataVector& contents() const { return contents_; }

 private:
  IString geometry_;
  SpectralContentDataVector contents_;
};

// Spectral contents of a sample, one per geometry.
using SpectrumContentVector = DeviceVector<SpectrumContent>;
extern template class DeviceVector<SpectrumContent>;

}  // namespace Vexil::Device_Cpp
