#include "device/JobValues.h"

#include "device/DeviceVectorImpl.h"

namespace Vexil::Device_Cpp {

Tag::~Tag() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(Tag)
IString& Tag::name() { return name_; }
IString& Tag::value() { return value_; }

Tag32::~Tag32() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(Tag32)
IString& Tag32::name() { return name_; }
IString32& Tag32::value() { return value_; }

ITime::~ITime() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(ITime)
std::uint8_t& ITime::year() { return year_; }
std::uint8_t& ITime::month() { return month_; }
std::uint8_t& ITime::day() { return day_; }
std::uint8_t& ITime::hour() { return hour_; }
std::uint8_t& ITime::minute() { return minute_; }
std::uint8_t& ITime::second() { return second_; }

AccelerationInfo::~AccelerationInfo() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(AccelerationInfo)
std::int32_t& AccelerationInfo::x() { return x_; }
std::int32_t& AccelerationInfo::y() { return y_; }
std::int32_t& AccelerationInfo::z() { return z_; }
std::int32_t& AccelerationInfo::peak() { return peak_; }
std::int32_t& AccelerationInfo::eventCount() { return eventCount_; }

SampleInfo::~SampleInfo() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(SampleInfo)
std::int32_t& SampleInfo::sampleIndex() { return sampleIndex_; }
ITime& SampleInfo::time() { return time_; }
float& SampleInfo::temperature() { return temperature_; }
float& SampleInfo::humidity() { return humidity_; }
float& SampleInfo::supplyVoltage() { return supplyVoltage_; }
AccelerationInfo& SampleInfo::acceleration() { return acceleration_; }
std::uint8_t& SampleInfo::measureMode() { return measureMode_; }
std::uint8_t& SampleInfo::quality() { return quality_; }
std::uint8_t& SampleInfo::repeatCount() { return repeatCount_; }
std::uint8_t& SampleInfo::flags() { return flags_; }

IJobDescription::~IJobDescription() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(IJobDescription)
std::int32_t& IJobDescription::version() { return version_; }
IString& IJobDescription::identifier() { return identifier_; }
ITagVector& IJobDescription::tags() { return tags_; }
ITag32Vector& IJobDescription::displayTags() { return displayTags_; }
std::int32_t& IJobDescription::sampleCount() { return sampleCount_; }
IString& IJobDescription::comment() { return comment_; }
IString& IJobDescription::referenceName() { return referenceName_; }
std::int32_t& IJobDescription::plannedSampleCount() { return plannedSampleCount_; }

std::int32_t& MeasurementModeInfo::stateCode() { return stateCode_; }
IString& MeasurementModeInfo::modeName() { return modeName_; }
std::int32_t& MeasurementModeInfo::measuredSamples() { return measuredSamples_; }
std::int32_t& MeasurementModeInfo::modeFlags() { return modeFlags_; }

IJobInfo::~IJobInfo() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(IJobInfo)
IJobDescription& IJobInfo::description() { return description_; }
ISampleInfoVector& IJobInfo::samples() { return samples_; }
MeasurementModeInfo& IJobInfo::modeInfo() { return modeInfo_; }
IUintVector8& IJobInfo::extraData() { return extraData_; }

template class DeviceVector<Tag>;
template class DeviceVector<Tag32>;
template class DeviceVector<SampleInfo>;
template class DeviceVector<IJobInfo>;

}  // namespace Vexil::Device_Cpp
