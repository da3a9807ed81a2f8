// Conversion between the device's geometry names ("r15as-45", ...) and the
// SpectrumAngle keys of the measurement records.
//
// Names are compared whole and byte for byte: case-sensitive, nothing
// trimmed. The names come from the device module and are untrusted input, so
// an unlisted name is a value, never an assertion or an exception.
//
// Threads: pure functions over constant tables; safe from any thread.
#pragma once

#include <optional>
#include <string>

#include "messages/MeasurementRecords.h"

// The geometry of `name`, or R15As15 when the name is not one of the eleven
// listed names: data of an unlisted geometry is filed under R15As15, where it
// shares the slot with the real "r15as15".
SpectrumAngle GeometryToAngle(const std::string& name);

// The geometry of `name`, or nothing when the name is not listed.
std::optional<SpectrumAngle> FindGeometry(const std::string& name);

// True when `name` is one of the eleven listed geometry names.
bool IsListedGeometry(const std::string& name);

// The geometry name of `angle` (a static string, never freed), or nullptr
// when `angle` is not one of the eleven enumerators, as a value read from
// the wire may be.
const char* AngleToGeometry(SpectrumAngle angle);
