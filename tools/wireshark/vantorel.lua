-- Wireshark/tshark dissector for the Vantorel driver protocol (TCP port 8889).
--
-- Every frame is a 16-byte little-endian header (body size u32, 4 reserved
-- bytes, type id u64 of which the low 32 bits count) followed by the body.
-- Frames are reassembled across TCP segments. Frames sent to the driver's
-- port are requests, the others answers; an answer travels under the id of
-- its request, except that the network connect request (7) is answered under
-- id 1, and terminate (3) gets no answer.
--
-- Bodies are decoded field by field. A body that is shorter than its fields,
-- announces counts it cannot hold or has the wrong raw size is marked with
-- expert info (group Malformed) instead of stopping the dissection; bytes
-- after the last field get a warning. Image bytes are summarised by their
-- size, never dumped.
--
-- Use: tshark -X lua_script:tools/wireshark/vantorel.lua -r capture.pcap -V
-- or copy the file into Wireshark's personal plugins folder.

local vantorel = Proto("vantorel", "Vantorel driver protocol")

local HEADER_SIZE = 16

vantorel.prefs.port = Pref.uint("Driver TCP port", 8889, "TCP port the driver listens on")

local request_names = {
  [1] = "MsgUsbConnect", [2] = "MsgGetJobs", [3] = "MsgTerminate", [4] = "MsgDeleteJob",
  [5] = "MsgGetMeasure", [6] = "MsgGetSample", [7] = "MsgNetworkConnect", [8] = "MsgAddJob",
  [9] = "MsgDoJob", [10] = "MsgCancel", [11] = "MsgUserMessage", [12] = "MsgGetLog",
}

local answer_names = {
  [1] = "Connect result", [2] = "MsgAnswerJobInfo", [4] = "DeleteJob result",
  [5] = "MsgAnswerGetMeasure", [6] = "MsgAnswerGetSample", [8] = "AddJob result",
  [9] = "DoJob result", [10] = "Cancel result", [11] = "UserMessage result",
  [12] = "MsgAnswerGetLog",
}

local geometry_names = {
  [0] = "r15as-45", [1] = "r15as-15", [2] = "r15as15", [3] = "r15as45", [4] = "r15as80",
  [5] = "r45as-15", [6] = "r45as15", [7] = "r45as25", [8] = "r45as45", [9] = "r45as75",
  [10] = "r45as110",
}

local result_texts = {
  [0] = "success",
  [99999] = "no device session: connect to the instrument first",
  [1002] = "job not found",
  [1003] = "job name or make is not valid UTF-8",
  [3001] = "instrument not connected",
  [3002] = "unknown job",
  [3003] = "network address refused by the instrument",
  [3004] = "sample not measured (or index out of range)",
  [3005] = "instrument busy: a job is measuring",
  [3006] = "image could not be decoded",
  [3007] = "invalid job description",
}

local job_states = { [0] = "stored", [1] = "measuring", [2] = "measured" }
local booleans = { [0] = "false", [1] = "true" }

local f = {
  size = ProtoField.uint32("vantorel.size", "Body size", base.DEC),
  reserved = ProtoField.bytes("vantorel.reserved", "Reserved"),
  type = ProtoField.uint32("vantorel.type", "Type id", base.DEC, request_names),
  type_high = ProtoField.uint32("vantorel.type_high", "Type id, high 32 bits", base.HEX),
  direction = ProtoField.string("vantorel.direction", "Direction"),
  message = ProtoField.string("vantorel.message", "Message"),
  result = ProtoField.int32("vantorel.result", "Result code", base.DEC, result_texts),
  log_result = ProtoField.uint32("vantorel.log.result", "Result code (unsigned)", base.DEC, result_texts),
  unused = ProtoField.bytes("vantorel.unused", "Not interpreted"),
  timeout = ProtoField.uint32("vantorel.timeout_ms", "Time-out (ms)", base.DEC),
  address = ProtoField.ipv4("vantorel.address", "Instrument address"),
  length = ProtoField.uint32("vantorel.length", "Length", base.DEC),
  name = ProtoField.string("vantorel.name", "Job name"),
  make = ProtoField.string("vantorel.make", "Make"),
  sample_count = ProtoField.uint32("vantorel.sample_count", "Sample count", base.DEC),
  sample_index = ProtoField.int32("vantorel.sample_index", "Sample index", base.DEC),
  text = ProtoField.string("vantorel.text", "User message"),
  job_count = ProtoField.uint32("vantorel.job_count", "Job count", base.DEC),
  job_name = ProtoField.string("vantorel.job.name", "Name"),
  job_state = ProtoField.uint32("vantorel.job.state", "State", base.DEC, job_states),
  job_samples = ProtoField.int32("vantorel.job.sample_count", "Sample count", base.DEC),
  job_valid = ProtoField.uint8("vantorel.job.valid", "Valid", base.DEC, booleans),
  meas_count = ProtoField.uint32("vantorel.measurement_count", "Measurement count", base.DEC),
  geometry = ProtoField.int32("vantorel.geometry", "Geometry", base.DEC, geometry_names),
  meas_index = ProtoField.int64("vantorel.measurement.index", "Index", base.DEC),
  meas_angle = ProtoField.int32("vantorel.measurement.angle", "SpectrumAngle", base.DEC,
                                geometry_names),
  spectrum = ProtoField.float("vantorel.measurement.spectrum", "Spectral value"),
  lab_l = ProtoField.float("vantorel.measurement.L", "L*"),
  lab_a = ProtoField.float("vantorel.measurement.a", "a*"),
  lab_b = ProtoField.float("vantorel.measurement.b", "b*"),
  image_count = ProtoField.uint32("vantorel.image_count", "Image count", base.DEC),
  exr_size = ProtoField.uint32("vantorel.image.exr_size", "EXR image size", base.DEC),
  second_size = ProtoField.uint32("vantorel.image.second_size", "Second image size", base.DEC),
  texture = ProtoField.double("vantorel.image.texture", "Texture value"),
  log = ProtoField.string("vantorel.log", "Log text"),
  trailing = ProtoField.bytes("vantorel.trailing", "Bytes after the last field"),
  header = ProtoField.none("vantorel.header", "Header"),
  body = ProtoField.none("vantorel.body", "Body"),
  job = ProtoField.none("vantorel.job", "Job"),
  measurement = ProtoField.none("vantorel.measurement", "Measurement"),
  spectrum_list = ProtoField.none("vantorel.measurement.spectrum_list", "Spectrum"),
  image = ProtoField.none("vantorel.image", "Image"),
  texture_list = ProtoField.none("vantorel.image.texture_list", "Texture"),
}
local field_list = {}
for _, field in pairs(f) do field_list[#field_list + 1] = field end
vantorel.fields = field_list

local ex = {
  malformed = ProtoExpert.new("vantorel.malformed", "Malformed body",
                              expert.group.MALFORMED, expert.severity.ERROR),
  raw_size = ProtoExpert.new("vantorel.raw_size", "Raw body of the wrong size",
                             expert.group.MALFORMED, expert.severity.ERROR),
  trailing = ProtoExpert.new("vantorel.trailing_bytes", "Bytes after the last field",
                             expert.group.PROTOCOL, expert.severity.WARN),
  unknown_type = ProtoExpert.new("vantorel.unknown_type", "Unknown type id",
                                 expert.group.PROTOCOL, expert.severity.WARN),
  no_answer = ProtoExpert.new("vantorel.no_answer", "No answer travels under this type id",
                              expert.group.PROTOCOL, expert.severity.WARN),
  bad_value = ProtoExpert.new("vantorel.bad_value", "Value outside its range",
                              expert.group.PROTOCOL, expert.severity.WARN),
  result = ProtoExpert.new("vantorel.error_result", "Non-zero result code",
                           expert.group.RESPONSE_CODE, expert.severity.NOTE),
}
vantorel.experts = { ex.malformed, ex.raw_size, ex.trailing, ex.unknown_type, ex.no_answer,
                     ex.bad_value, ex.result }

local WAVELENGTH_FIRST, WAVELENGTH_STEP, SPECTRUM_VALUES = 400, 10, 31
local MEASUREMENT_ENTRY = 4 + 8 + 4 + 4 * SPECTRUM_VALUES + 3 * 4  -- 152
local IMAGE_ENTRY_MIN = 4 + 4 + 4 + 7 * 8                         -- 68
local JOB_MIN = 4 + 4 + 4 + 1
local EXR_MAGIC = 20000630  -- first four bytes of every EXR file, little-endian

-- Body cursor: offsets are relative to the body; take() raises a table error
-- when the body is too short, which the frame dissector turns into expert info.
local Cursor = {}
Cursor.__index = Cursor

local function new_cursor(tvb, start, size)
  return setmetatable({ tvb = tvb, start = start, size = size, off = 0 }, Cursor)
end

function Cursor:remaining() return self.size - self.off end

function Cursor:take(n, what)
  if n > self:remaining() then
    error({ short = true, text = string.format("%s needs %d bytes at body offset %d, %d left",
                                               what, n, self.off, self:remaining()) }, 0)
  end
  local range = self.tvb(self.start + self.off, n)
  self.off = self.off + n
  return range
end

function Cursor:u32(tree, field, what)
  local r = self:take(4, what)
  return r:le_uint(), tree:add_le(field, r)
end

function Cursor:i32(tree, field, what)
  local r = self:take(4, what)
  return r:le_int(), tree:add_le(field, r)
end

-- An element count, refused before the elements are read when they cannot fit.
function Cursor:count(tree, field, min_size, what)
  local n, item = self:u32(tree, field, what)
  if n * min_size > self:remaining() then
    error({ short = true, item = item,
            text = string.format("%s %d needs at least %d bytes, %d left",
                                 what, n, n * min_size, self:remaining()) }, 0)
  end
  return n, item
end

-- A narrow string: u32 byte count, then the bytes (shown as UTF-8).
function Cursor:string(tree, field, what)
  local n = self:take(4, what .. " length"):le_uint()
  local r = self:take_after_length(n, what)
  local item = tree:add_packet_field(field, r, ENC_UTF_8)
  item:append_text(string.format(" (%d bytes)", n))
  return r:string(), item, r
end

function Cursor:take_after_length(n, what)
  if n > self:remaining() then
    error({ short = true, text = string.format("%s length %d exceeds the %d bytes left",
                                               what, n, self:remaining()) }, 0)
  end
  return self:take(n, what)
end

-- Marks bytes after the last field; the driver ignores them in requests.
function Cursor:finish(tree)
  if self:remaining() > 0 then
    local r = self:take(self:remaining(), "trailing bytes")
    tree:add(f.trailing, r):add_proto_expert_info(ex.trailing,
      string.format("%d bytes after the last field", r:len()))
  end
end

-- Raw bodies have a fixed size; show what is there and flag a mismatch.
local function check_raw(cur, tree, expected, name)
  if cur.size ~= expected then
    tree:add_proto_expert_info(ex.raw_size,
      string.format("%s is %d bytes raw, this body has %d", name, expected, cur.size))
    return false
  end
  return true
end

local function summary_name(s)
  if #s > 40 then s = s:sub(1, 37) .. "..." end
  return s
end

---------------------------------------------------------------------------
-- Requests

local function request_connect(cur, tree, id)
  local ok = check_raw(cur, tree, 8, request_names[id])
  if cur.size >= 8 then
    if id == 7 then
      tree:add(f.address, cur:take(4, "address"))
    else
      tree:add(f.unused, cur:take(4, "reserved"))
    end
    local ms, ms_item = cur:u32(tree, f.timeout, "time-out")
    if ms == 0xFFFFFFFF then
      ms_item:append_text(" (no limit)")
      if ok then return "timeout=none" end
    end
    if ok then return string.format("timeout=%d ms", ms) end
  elseif cur.size > 0 then
    tree:add(f.unused, cur:take(cur.size, "body"))
  end
end

local function request_fixed(expected)
  return function(cur, tree, id)
    check_raw(cur, tree, expected, request_names[id])
    if cur.size > 0 then tree:add(f.unused, cur:take(cur.size, "body")) end
  end
end

local function request_name(cur, tree)
  local name = cur:string(tree, f.name, "job name")
  cur:finish(tree)
  return "name=" .. summary_name(name)
end

local function request_sample(cur, tree)
  local name = cur:string(tree, f.name, "job name")
  local index = cur:i32(tree, f.sample_index, "sample index")
  cur:finish(tree)
  return string.format("name=%s index=%d", summary_name(name), index)
end

local function request_add_job(cur, tree)
  local name = cur:string(tree, f.name, "job name")
  local make = cur:string(tree, f.make, "make")
  local samples = cur:u32(tree, f.sample_count, "sample count")
  cur:finish(tree)
  return string.format("name=%s make=%s samples=%d", summary_name(name), summary_name(make),
                       samples)
end

local function request_user_message(cur, tree)
  local units, item = cur:count(tree, f.length, 4, "code unit count")
  item:prepend_text("UTF-32 ")
  local r = cur:take(4 * units, "text")
  local text_item = tree:add_packet_field(f.text, r, ENC_UCS_4 + ENC_LITTLE_ENDIAN)
  for i = 0, units - 1 do
    local unit = r(4 * i, 4):le_uint()
    if unit > 0x10FFFF or (unit >= 0xD800 and unit <= 0xDFFF) then
      text_item:add_proto_expert_info(ex.bad_value,
        string.format("code unit %d is 0x%X, not a Unicode scalar value", i, unit))
      break
    end
  end
  cur:finish(tree)
  return string.format("%d code units", units)
end

local requests = {
  [1] = request_connect, [2] = request_fixed(3), [3] = request_fixed(1),
  [4] = request_name, [5] = request_name, [6] = request_sample, [7] = request_connect,
  [8] = request_add_job, [9] = request_name, [10] = request_fixed(1),
  [11] = request_user_message, [12] = request_fixed(1),
}

---------------------------------------------------------------------------
-- Answers

local function add_result(cur, tree, field)
  local code, item
  if field == f.log_result then
    code, item = cur:u32(tree, field, "result code")
  else
    code, item = cur:i32(tree, field, "result code")
  end
  if code ~= 0 then
    item:add_proto_expert_info(ex.result, string.format("Result %d: %s", code,
                               result_texts[code] or ("device error " .. code)))
  end
  return code
end

local function answer_result(cur, tree)
  if not check_raw(cur, tree, 4, "A result code answer") then
    if cur.size > 0 then tree:add(f.unused, cur:take(cur.size, "body")) end
    return nil
  end
  return "result=" .. add_result(cur, tree, f.result)
end

local function answer_jobs(cur, tree)
  local result = add_result(cur, tree, f.result)
  local n = cur:count(tree, f.job_count, JOB_MIN, "job count")
  for i = 0, n - 1 do
    local first = cur.off
    local jt = tree:add(f.job, cur.tvb(cur.start + cur.off, 0))
    local name = cur:string(jt, f.job_name, string.format("job %d name", i))
    local state, st_item = cur:u32(jt, f.job_state, string.format("job %d state", i))
    if job_states[state] == nil then
      st_item:add_proto_expert_info(ex.bad_value, "job state outside 0..2")
    end
    local samples = cur:i32(jt, f.job_samples, string.format("job %d sample count", i))
    local valid_range = cur:take(1, string.format("job %d valid", i))
    jt:add(f.job_valid, valid_range)
    jt:set_len(cur.off - first)
    jt:set_text(string.format("Job %d: %s, %s, %d samples", i, name,
                              job_states[state] or tostring(state), samples))
  end
  cur:finish(tree)
  return string.format("result=%d jobs=%d", result, n)
end

local function geometry_label(key)
  return geometry_names[key] or ("unknown geometry " .. key)
end

local function add_geometry_key(cur, tree, what)
  local key, item = cur:i32(tree, f.geometry, what)
  if geometry_names[key] == nil then
    item:add_proto_expert_info(ex.bad_value, string.format("geometry %d is not 0..10", key))
  end
  return key
end

local function measurement_entry(cur, tree, i)
  local first = cur.off
  local what = "measurement " .. i
  local mt = tree:add(f.measurement, cur.tvb(cur.start + cur.off, 0))
  local key = add_geometry_key(cur, mt, what .. " geometry")
  local index_range = cur:take(8, what .. " index")
  mt:add_le(f.meas_index, index_range)
  local angle, angle_item = cur:i32(mt, f.meas_angle, what .. " angle")
  if angle ~= key then
    angle_item:add_proto_expert_info(ex.bad_value, "angle differs from the map key")
  end
  local spec_range = cur:take(4 * SPECTRUM_VALUES, what .. " spectrum")
  local st = mt:add(f.spectrum_list, spec_range)
  st:append_text(": 31 values from 400 to 700 nm")
  for k = 0, SPECTRUM_VALUES - 1 do
    local r = spec_range(4 * k, 4)
    st:add_le(f.spectrum, r):set_text(string.format("%d nm: %g",
      WAVELENGTH_FIRST + WAVELENGTH_STEP * k, r:le_float()))
  end
  local l = cur:take(4, what .. " L*")
  local a = cur:take(4, what .. " a*")
  local b = cur:take(4, what .. " b*")
  mt:add_le(f.lab_l, l)
  mt:add_le(f.lab_a, a)
  mt:add_le(f.lab_b, b)
  mt:set_len(cur.off - first)
  mt:set_text(string.format("Measurement %s: L*=%.2f a*=%.2f b*=%.2f", geometry_label(key),
                            l:le_float(), a:le_float(), b:le_float()))
end

local function image_entry(cur, tree, i)
  local first = cur.off
  local what = "image " .. i
  local it = tree:add(f.image, cur.tvb(cur.start + cur.off, 0))
  local key = add_geometry_key(cur, it, what .. " geometry")
  local exr_len, exr_item = cur:u32(it, f.exr_size, what .. " EXR size")
  local exr = cur:take_after_length(exr_len, what .. " EXR image")
  exr_item:set_len(4 + exr_len)
  if exr_len >= 4 and exr(0, 4):le_uint() ~= EXR_MAGIC then
    exr_item:add_proto_expert_info(ex.bad_value, "image does not start with the EXR magic number")
  end
  local second_len, second_item = cur:u32(it, f.second_size, what .. " second image size")
  cur:take_after_length(second_len, what .. " second image")
  second_item:set_len(4 + second_len)
  local tex = cur:take(7 * 8, what .. " texture")
  local tt = it:add(f.texture_list, tex)
  tt:append_text(": 7 values")
  for k = 0, 6 do tt:add_le(f.texture, tex(8 * k, 8)) end
  it:set_len(cur.off - first)
  it:set_text(string.format("Image %s: EXR %d bytes, second image %d bytes", geometry_label(key),
                            exr_len, second_len))
end

local function answer_measurements(cur, tree)
  local result = add_result(cur, tree, f.result)
  local n = cur:count(tree, f.meas_count, MEASUREMENT_ENTRY, "measurement count")
  for i = 0, n - 1 do measurement_entry(cur, tree, i) end
  local m = cur:count(tree, f.image_count, IMAGE_ENTRY_MIN, "image count")
  for i = 0, m - 1 do image_entry(cur, tree, i) end
  cur:finish(tree)
  return string.format("result=%d measurements=%d images=%d", result, n, m)
end

local function answer_log(cur, tree)
  local result = add_result(cur, tree, f.log_result)
  local n = cur:take(4, "log length"):le_uint()
  local r = cur:take_after_length(n, "log text")
  if n == 0 or r(n - 1, 1):le_uint() ~= 0 then
    tree:add_proto_expert_info(ex.malformed, "log text does not end with a zero byte")
    tree:add_packet_field(f.log, r, ENC_UTF_8)
  else
    tree:add_packet_field(f.log, r(0, n - 1), ENC_UTF_8)
      :append_text(string.format(" (%d bytes and the terminating zero)", n - 1))
  end
  cur:finish(tree)
  return string.format("result=%d log=%d bytes", result, math.max(n - 1, 0))
end

local answers = {
  [1] = answer_result, [2] = answer_jobs, [4] = answer_result, [5] = answer_measurements,
  [6] = answer_measurements, [8] = answer_result, [9] = answer_result, [10] = answer_result,
  [11] = answer_result, [12] = answer_log,
}

---------------------------------------------------------------------------
-- Frames

local last_info_frame = nil

local function add_info(pinfo, text)
  if last_info_frame == pinfo.number then
    pinfo.cols.info:append("; " .. text)
  else
    pinfo.cols.info:set(text)
    last_info_frame = pinfo.number
  end
end

local function frame_length(tvb, pinfo, offset)
  return HEADER_SIZE + tvb(offset, 4):le_uint()
end

local function dissect_frame(tvb, pinfo, tree)
  pinfo.cols.protocol = "VANTOREL"
  local size = tvb(0, 4):le_uint()
  local id = tvb(8, 4):le_uint()
  local is_request = pinfo.dst_port == vantorel.prefs.port
  local name
  if is_request then name = request_names[id] else name = answer_names[id] end

  local root = tree:add(vantorel, tvb(0, HEADER_SIZE + size))
  local direction = is_request and "request" or "answer"
  root:add(f.direction, tvb(0, 0), direction):set_generated()
  local msg_item = root:add(f.message, tvb(8, 8), name or ("type " .. id))
  msg_item:set_generated()

  local ht = root:add(f.header, tvb(0, HEADER_SIZE))
  ht:add_le(f.size, tvb(0, 4))
  ht:add(f.reserved, tvb(4, 4))
  ht:add_le(f.type, tvb(8, 4))
  local high = tvb(12, 4):le_uint()
  if high ~= 0 then ht:add_le(f.type_high, tvb(12, 4)) end

  local summary
  local decode = is_request and requests[id] or answers[id]
  if decode == nil then
    if is_request or request_names[id] == nil then
      msg_item:add_proto_expert_info(ex.unknown_type, string.format("no message has type id %d", id))
    else
      msg_item:add_proto_expert_info(ex.no_answer, string.format(
        "%s is never answered under id %d", request_names[id], id))
    end
  elseif size == 0 then
    root:add_proto_expert_info(ex.malformed, "empty body: every message has at least one byte")
  else
    local cur = new_cursor(tvb, HEADER_SIZE, size)
    local bt = root:add(f.body, tvb(HEADER_SIZE, size))
    local ok, err = pcall(decode, cur, bt, id)
    if ok then
      summary = err
    elseif type(err) == "table" and err.short then
      local where = err.item or bt
      where:add_proto_expert_info(ex.malformed, err.text)
      summary = "malformed"
    else
      error(err, 0)
    end
  end

  local info = string.format("%s %s", is_request and "Request" or "Answer", name or ("type " .. id))
  if summary then info = info .. " " .. summary end
  root:append_text(string.format(", %s %s, %d body bytes", direction, name or ("type " .. id), size))
  add_info(pinfo, info)
  return HEADER_SIZE + size
end

function vantorel.dissector(tvb, pinfo, tree)
  dissect_tcp_pdus(tvb, tree, HEADER_SIZE, frame_length, dissect_frame, true)
  return tvb:len()
end

local registered_port = nil

local function register_port()
  local tcp = DissectorTable.get("tcp.port")
  if registered_port then tcp:remove(registered_port, vantorel) end
  registered_port = vantorel.prefs.port
  tcp:add(registered_port, vantorel)
end

function vantorel.prefs_changed()
  if registered_port ~= vantorel.prefs.port then register_port() end
end

register_port()
