// The value classes that describe jobs: Tag, Tag32, ITime, AccelerationInfo,
// SampleInfo, IJobDescription, MeasurementModeInfo, IJobInfo and their
// vectors.
//
// Rules shared by every value class in device/:
// - A value class has no base class and none derives from it. Its first
//   virtual operation is the destructor (MeasurementModeInfo alone has none),
//   then one accessor per field, in field order, returning a modifiable
//   reference to the field. The slot order is the contract with the device
//   module: never reorder, insert or remove a virtual operation, and never
//   give two of them one name. The destructor takes the slot the platform's
//   C++ ABI gives it (VEXIL_BOUNDARY_DESTRUCTOR, see BoundaryAbi.h), so a
//   module built with the platform's compiler finds every accessor where it
//   calls it. The const accessors are not virtual.
// - A device module, built and loaded separately, only ever calls virtual
//   operations on the objects it is given; it never constructs, copies or
//   deletes them and never touches their members. So every operation a
//   module needs is virtual and defined out of line in this library, and
//   runs the driver's code on the driver's heap.
// - The driver builds the values (default construction zeroes numbers and
//   empties texts and vectors), copies them deeply (every copy owns its texts
//   and vectors) and reads them through the same accessors or the const
//   overloads.
//
// Threads: a value belongs to one thread at a time; no locks.
#pragma once

#include <cstdint>
#include <utility>

#include "device/BoundaryAbi.h"
#include "device/DeviceVector.h"
#include "device/IString.h"

namespace Vexil::Device_Cpp {

// A named narrow text value (for example the job tag "Make").
class Tag {
 public:
  Tag() = default;
  Tag(IString name, IString value) : name_(std::move(name)), value_(std::move(value)) {}
  Tag(const Tag&) = default;
  Tag(Tag&&) = default;
  Tag& operator=(const Tag&) = default;
  Tag& operator=(Tag&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(Tag);
  virtual IString& name();
  virtual IString& value();

  // Read access for the driver.
  const IString& name() const { return name_; }
  const IString& value() const { return value_; }

 private:
  IString name_;
  IString value_;
};

// Tags of a job description.
using ITagVector = DeviceVector<Tag>;
extern template class DeviceVector<Tag>;

// A named UTF-32 text value (for example the display tag "DisplayName").
class Tag32 {
 public:
  Tag32() = default;
  Tag32(IString name, IString32 value) : name_(std::move(name)), value_(std::move(value)) {}
  Tag32(const Tag32&) = default;
  Tag32(Tag32&&) = default;
  Tag32& operator=(const Tag32&) = default;
  Tag32& operator=(Tag32&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(Tag32);
  virtual IString& name();
  virtual IString32& value();

  // Read access for the driver.
  const IString& name() const { return name_; }
  const IString32& value() const { return value_; }

 private:
  IString name_;
  IString32 value_;
};

// Display tags of a job description.
using ITag32Vector = DeviceVector<Tag32>;
extern template class DeviceVector<Tag32>;

// A point in time as the device records it; all fields are the device's own
// (year counted from 2000).
class ITime {
 public:
  ITime() = default;
  ITime(const ITime&) = default;
  ITime(ITime&&) = default;
  ITime& operator=(const ITime&) = default;
  ITime& operator=(ITime&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(ITime);
  virtual std::uint8_t& year();
  virtual std::uint8_t& month();
  virtual std::uint8_t& day();
  virtual std::uint8_t& hour();
  virtual std::uint8_t& minute();
  virtual std::uint8_t& second();

  // Read access for the driver.
  const std::uint8_t& year() const { return year_; }
  const std::uint8_t& month() const { return month_; }
  const std::uint8_t& day() const { return day_; }
  const std::uint8_t& hour() const { return hour_; }
  const std::uint8_t& minute() const { return minute_; }
  const std::uint8_t& second() const { return second_; }

 private:
  std::uint8_t year_{};
  std::uint8_t month_{};
  std::uint8_t day_{};
  std::uint8_t hour_{};
  std::uint8_t minute_{};
  std::uint8_t second_{};
};

// Motion of the instrument during a measurement, as the device reports it.
class AccelerationInfo {
 public:
  AccelerationInfo() = default;
  AccelerationInfo(const AccelerationInfo&) = default;
  AccelerationInfo(AccelerationInfo&&) = default;
  AccelerationInfo& operator=(const AccelerationInfo&) = default;
  AccelerationInfo& operator=(AccelerationInfo&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(AccelerationInfo);
  virtual std::int32_t& x();
  virtual std::int32_t& y();
  virtual std::int32_t& z();
  virtual std::int32_t& peak();
  virtual std::int32_t& eventCount();

  // Read access for the driver.
  const std::int32_t& x() const { return x_; }
  const std::int32_t& y() const { return y_; }
  const std::int32_t& z() const { return z_; }
  const std::int32_t& peak() const { return peak_; }
  const std::int32_t& eventCount() const { return eventCount_; }

 private:
  std::int32_t x_{};
  std::int32_t y_{};
  std::int32_t z_{};
  std::int32_t peak_{};
  std::int32_t eventCount_{};
};

// Circumstances of one measured sample, filled by the device only.
class SampleInfo {
 public:
  SampleInfo() = default;
  SampleInfo(const SampleInfo&) = default;
  SampleInfo(SampleInfo&&) = default;
  SampleInfo& operator=(const SampleInfo&) = default;
  SampleInfo& operator=(SampleInfo&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(SampleInfo);
  virtual std::int32_t& sampleIndex();
  virtual ITime& time();
  virtual float& temperature();
  virtual float& humidity();
  virtual float& supplyVoltage();
  virtual AccelerationInfo& acceleration();
  virtual std::uint8_t& measureMode();
  virtual std::uint8_t& quality();
  virtual std::uint8_t& repeatCount();
  virtual std::uint8_t& flags();

  // Read access for the driver.
  const std::int32_t& sampleIndex() const { return sampleIndex_; }
  const ITime& time() const { return time_; }
  const float& temperature() const { return temperature_; }
  const float& humidity() const { return humidity_; }
  const float& supplyVoltage() const { return supplyVoltage_; }
  const AccelerationInfo& acceleration() const { return acceleration_; }
  const std::uint8_t& measureMode() const { return measureMode_; }
  const std::uint8_t& quality() const { return quality_; }
  const std::uint8_t& repeatCount() const { return repeatCount_; }
  const std::uint8_t& flags() const { return flags_; }

 private:
  std::int32_t sampleIndex_{};
  ITime time_;
  float temperature_{};
  float humidity_{};
  float supplyVoltage_{};
  AccelerationInfo acceleration_;
  std::uint8_t measureMode_{};
  std::uint8_t quality_{};
  std::uint8_t repeatCount_{};
  std::uint8_t flags_{};
};

// Samples of a stored job.
using ISampleInfoVector = DeviceVector<SampleInfo>;
extern template class DeviceVector<SampleInfo>;

// What defines a job. The add-job request fills: version 0, identifier, the
// tags "Make" and "MakeId", the display tags "DisplayName" and "DisplayMake",
// sampleCount, an empty comment, referenceName "NONE" and plannedSampleCount
// equal to sampleCount.
class IJobDescription {
 public:
  IJobDescription() = default;
  IJobDescription(const IJobDescription&) = default;
  IJobDescription(IJobDescription&&) = default;
  IJobDescription& operator=(const IJobDescription&) = default;
  IJobDescription& operator=(IJobDescription&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(IJobDescription);
  virtual std::int32_t& version();  // the driver writes 0
  virtual IString& identifier();    // job identifier (UTF-8)
  virtual ITagVector& tags();
  virtual ITag32Vector& displayTags();
  virtual std::int32_t& sampleCount();         // samples a measurement reads
  virtual IString& comment();                  // left empty
  virtual IString& referenceName();            // the driver writes "NONE"
  virtual std::int32_t& plannedSampleCount();  // the driver writes sampleCount again

  // Read access for the driver.
  const std::int32_t& version() const { return version_; }
  const IString& identifier() const { return identifier_; }
  const ITagVector& tags() const { return tags_; }
  const ITag32Vector& displayTags() const { return displayTags_; }
  const std::int32_t& sampleCount() const { return sampleCount_; }
  const IString& comment() const { return comment_; }
  const IString& referenceName() const { return referenceName_; }
  const std::int32_t& plannedSampleCount() const { return plannedSampleCount_; }

 private:
  std::int32_t version_{};
  IString identifier_;
  ITagVector tags_;
  ITag32Vector displayTags_;
  std::int32_t sampleCount_{};
  IString comment_;
  IString referenceName_;
  std::int32_t plannedSampleCount_{};
};

// State of a stored job. This class alone has no virtual destructor: its
// four virtual operations are its four accessors, stateCode() first.
class MeasurementModeInfo {
 public:
  MeasurementModeInfo() = default;
  MeasurementModeInfo(const MeasurementModeInfo&) = default;
  MeasurementModeInfo(MeasurementModeInfo&&) = default;
  MeasurementModeInfo& operator=(const MeasurementModeInfo&) = default;
  MeasurementModeInfo& operator=(MeasurementModeInfo&&) = default;
  ~MeasurementModeInfo() = default;  // not virtual: the first slot is stateCode()

  // Virtual operations, in slot order.
  virtual std::int32_t& stateCode();  // job state: 2000 measuring, 2004 measured, others
  virtual IString& modeName();
  virtual std::int32_t& measuredSamples();
  virtual std::int32_t& modeFlags();

  // Read access for the driver.
  const std::int32_t& stateCode() const { return stateCode_; }
  const IString& modeName() const { return modeName_; }
  const std::int32_t& measuredSamples() const { return measuredSamples_; }
  const std::int32_t& modeFlags() const { return modeFlags_; }

 private:
  std::int32_t stateCode_{};
  IString modeName_;
  std::int32_t measuredSamples_{};
  std::int32_t modeFlags_{};
};

// One stored job as the device lists it.
class IJobInfo {
 public:
  IJobInfo() = default;
  IJobInfo(const IJobInfo&) = default;
  IJobInfo(IJobInfo&&) = default;
  IJobInfo& operator=(const IJobInfo&) = default;
  IJobInfo& operator=(IJobInfo&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(IJobInfo);
  virtual IJobDescription& description();
  virtual ISampleInfoVector& samples();
  virtual MeasurementModeInfo& modeInfo();
  virtual IUintVector8& extraData();  // device-private bytes

  // Read access for the driver.
  const IJobDescription& description() const { return description_; }
  const ISampleInfoVector& samples() const { return samples_; }
  const MeasurementModeInfo& modeInfo() const { return modeInfo_; }
  const IUintVector8& extraData() const { return extraData_; }

 private:
  IJobDescription description_;
  ISampleInfoVector samples_;
  MeasurementModeInfo modeInfo_;
  IUintVector8 extraData_;
};

// The job list.
using JobInfoVector = DeviceVector<IJobInfo>;
extern template class DeviceVector<IJobInfo>;

}  // namespace Vexil::Device_Cpp
