#include "device/ContentValues.h"

#include "device/DeviceVectorImpl.h"

namespace Vexil::Device_Cpp {

ExrDescription::~ExrDescription() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(ExrDescription)
IUintVector8& ExrDescription::header() { return header_; }

Exr::~Exr() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(Exr)
ExrDescription& Exr::description() { return description_; }
IUintVector8& Exr::data() { return data_; }

TextureDescription::~TextureDescription() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(TextureDescription)
IString& TextureDescription::name() { return name_; }

Texture::~Texture() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(Texture)
TextureDescription& Texture::description() { return description_; }
std::int32_t& Texture::value0() { return value0_; }
std::int32_t& Texture::value1() { return value1_; }
std::int32_t& Texture::value2() { return value2_; }
std::int32_t& Texture::value3() { return value3_; }
std::int32_t& Texture::value4() { return value4_; }
std::int32_t& Texture::value5() { return value5_; }
std::int32_t& Texture::value6() { return value6_; }
std::int32_t& Texture::value7() { return value7_; }
std::int32_t& Texture::value8() { return value8_; }
std::int32_t& Texture::value9() { return value9_; }
std::int32_t& Texture::value10() { return value10_; }

QCTextureParameter::~QCTextureParameter() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(QCTextureParameter)
IString& QCTextureParameter::name() { return name_; }
IString& QCTextureParameter::value() { return value_; }
std::int32_t& QCTextureParameter::flags() { return flags_; }

ImageContentData::~ImageContentData() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(ImageContentData)
std::int32_t& ImageContentData::channelType() { return channelType_; }
Exr& ImageContentData::exr() { return exr_; }
Texture& ImageContentData::texture() { return texture_; }
QCTextureParameterVector& ImageContentData::qcParameters() { return qcParameters_; }

ImageContent::~ImageContent() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(ImageContent)
IString& ImageContent::geometry() { return geometry_; }
ImageContentDataVector& ImageContent::contents() { return contents_; }

SpectrumDescription::~SpectrumDescription() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(SpectrumDescription)
std::int32_t& SpectrumDescription::firstWavelength() { return firstWavelength_; }
std::int32_t& SpectrumDescription::wavelengthStep() { return wavelengthStep_; }

Spectrum::~Spectrum() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(Spectrum)
SpectrumDescription& Spectrum::description() { return description_; }
IFloatVector& Spectrum::values() { return values_; }

SpectralChannelContentType::~SpectralChannelContentType() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(SpectralChannelContentType)
std::uint16_t& SpectralChannelContentType::contentKind() { return contentKind_; }
std::uint16_t& SpectralChannelContentType::variant() { return variant_; }

SpectralContentData::~SpectralContentData() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(SpectralContentData)
SpectralChannelContentType& SpectralContentData::channelType() { return channelType_; }
Spectrum& SpectralContentData::spectrum() { return spectrum_; }
Lab& SpectralContentData::lab() { return lab_; }

SpectrumContent::~SpectrumContent() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(SpectrumContent)
IString& SpectrumContent::geometry() { return geometry_; }
SpectralContentDataVector& SpectrumContent::contents() { return contents_; }

template class DeviceVector<QCTextureParameter>;
template class DeviceVector<ImageContentData>;
template class DeviceVector<ImageContent>;
template class DeviceVector<SpectralChannelContentType>;
template class DeviceVector<SpectralContentData>;
template class DeviceVector<SpectrumContent>;

}  // namespace Vexil::Device_Cpp
