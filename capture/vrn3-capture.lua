-- vrn3-capture.lua: Wireshark dissector for captures of the blocks that cross a VRN3 brick
-- (CCaptureRecorder; vrn3-play --capture). Packets of link type LINKTYPE_USER0 (147) hold a
-- 16-byte capture header (sequence, type code, length, path, direction, form) and the block's data;
-- the records are decoded field by field with the names of docs/records.md.
--   tshark -r run.pcapng -X lua_script:vrn3-capture.lua -V
-- or copy the file into Wireshark's personal Lua plug-in folder.

local vrn3 = Proto("vrn3", "VRN3 brick block")
local f = vrn3.fields

local paths = { [0] = "data", [1] = "control", [2] = "notification", [3] = "configuration" }
local directions = { [0] = "in (delivered to the brick)", [1] = "out (sent by the brick)" }
local forms = { [0] = "bytes", [1] = "flattened (strings and lists written out)" }

f.sequence = ProtoField.uint32("vrn3.sequence", "Sequence")
f.type = ProtoField.string("vrn3.type", "Type code")
f.length = ProtoField.uint32("vrn3.length", "Block length")
f.path = ProtoField.uint8("vrn3.path", "Path", base.DEC, paths)
f.direction = ProtoField.uint8("vrn3.direction", "Direction", base.DEC, directions)
f.form = ProtoField.uint8("vrn3.form", "Form", base.DEC, forms)
f.payload = ProtoField.bytes("vrn3.payload", "Payload")

-- Record layouts: name, kind, width (for byte arrays and fixed texts). Kinds: u8 u16 u32 i32 u64
-- code (four characters), bytes, text (NUL-terminated in a fixed field).
local records = {
    config = { { "size", "u32" }, { "flags", "u32" }, { "input.contentCode", "code" }, { "input.recordCode", "code" },
        { "output.contentCode", "code" }, { "output.recordCode", "code" }, { "brickName", "text", 265 },
        { "streamNumber", "text", 223 } },
    fragment = { { "length", "u16" }, { "flags", "u8" }, { "streamNumber", "u8" } },
    video = { { "reserved0", "bytes", 2 }, { "flags", "u8" }, { "reserved3", "u8" }, { "frameTime", "u16" },
        { "timeMode", "u8" }, { "reserved7", "u8" } },
    tag = { { "time", "u64" }, { "reserved8", "bytes", 8 }, { "code", "code" }, { "kind", "u32" },
        { "streamNumber", "u32" }, { "reserved28", "u32" } },
    sound = { { "time", "u64" }, { "reserved8", "bytes", 8 }, { "sampleRate", "i32" }, { "bytesPerSample", "i32" },
        { "channels", "i32" }, { "sourceFlags", "u32" } },
    chunk = { { "time", "u64" }, { "mode", "u32" } },
    play = { { "reserved0", "bytes", 8 }, { "forward", "u8" }, { "reserved9", "bytes", 3 } },
    soundcfg = { { "notifyCode", "code" }, { "cfgCode", "code" }, { "codec", "code" }, { "dataType", "code" },
        { "chunkLength", "u64" }, { "sampleRate", "i32" }, { "bytesPerSample", "i32" }, { "channels", "i32" } },
    timerange = { { "notifyCode", "code" }, { "begin", "u64" }, { "end", "u64" } },
    reset = { { "notifyCode", "code" }, { "reserved4", "bytes", 8 }, { "value1", "u32" }, { "value2", "u32" },
        { "value3", "u32" }, { "flag", "u8" } },
    ready = { { "notifyCode", "code" }, { "value1", "u32" }, { "value2", "u32" }, { "flag", "u8" }, { "value3", "u32" } },
    notify = { { "notifyCode", "code" } },
    -- Flattened records: "len" is a string field carried as its length; the texts follow the record.
    header = { { "reserved0", "u32" }, { "reserved4", "u32" }, { "reserved8", "len" } },
    stream = { { "reserved0", "u8" }, { "kind", "u8" }, { "codec", "len" }, { "reserved6", "len" }, { "params", "len" } },
    message = { { "notifyCode", "code" }, { "sender", "u32" }, { "category", "code" }, { "messageCode", "code" },
        { "level", "i32" }, { "text", "len" }, { "details", "len" } },
    eventlist = { { "notifyCode", "code" }, { "entries", "u32" } },
    event = { { "word0", "u32" }, { "word1", "u32" }, { "streamNumber", "u32" }, { "text", "len" } },
}
local widths = { u8 = 1, u16 = 2, u32 = 4, i32 = 4, u64 = 8, code = 4, len = 4 }
local makers = { u8 = ProtoField.uint8, u16 = ProtoField.uint16, u32 = ProtoField.uint32, i32 = ProtoField.int32,
    u64 = ProtoField.uint64, code = ProtoField.string, bytes = ProtoField.bytes, text = ProtoField.string,
    len = ProtoField.string }
for record, fields in pairs(records) do
    for _, field in ipairs(fields) do
        local key = record .. "." .. field[1]
        field.proto = makers[field[2]]("vrn3." .. key, field[1])
        f[key] = field.proto
    end
end
f.reserved3596 = ProtoField.string("vrn3.header.reserved3596", "reserved3596")

-- Adds the fields of `record` at `offset`; returns the offset after them, or nil when the data is
-- too short. Texts of "len" fields are taken from `texts` (a cursor into the data after the record).
local function add_record(tree, buf, offset, record, texts)
    for _, field in ipairs(records[record]) do
        local kind, width = field[2], widths[field[2]] or field[3]
        if offset + width > buf:len() then return nil end
        local range = buf(offset, width)
        if kind == "code" then
            tree:add(field.proto, range, range:string())
        elseif kind == "text" then
            tree:add(field.proto, range, range:stringz())
        elseif kind == "len" then
            local n = range:le_uint()
            if texts.at + n > buf:len() then return nil end
            local text = n > 0 and buf(texts.at, n) or range
            tree:add(field.proto, text, n > 0 and text:string() or "")
            texts.at = texts.at + n
        elseif kind == "bytes" then
            tree:add(field.proto, range)
        else
            tree:add_le(field.proto, range)
        end
        offset = offset + width
    end
    return offset
end

local function add_payload(tree, buf, offset)
    if offset < buf:len() then tree:add(f.payload, buf(offset)) end
end

local function add_header(tree, buf)
    local streams, size = 256, 3632
    if buf:len() < size then return end
    local texts = { at = size }
    add_record(tree, buf, 0, "header", texts)
    for i = 0, streams - 1 do
        local at = 12 + 14 * i
        local used = buf(at, 2):le_uint() ~= 0 or buf(at + 2, 4):le_uint() ~= 0 or buf(at + 6, 4):le_uint() ~= 0 or
            buf(at + 10, 4):le_uint() ~= 0
        if used then -- an entry of zeros carries no text; it is left out
            add_record(tree:add(vrn3, buf(at, 14), "streams[" .. i .. "]"), buf, at, "stream", texts)
        end
    end
    for i = 0, 8 do
        local range = buf(3596 + 4 * i, 4)
        local n = range:le_uint()
        tree:add(f.reserved3596, range, n > 0 and buf(texts.at, n):string() or ""):prepend_text("[" .. i .. "] ")
        texts.at = texts.at + n
    end
    add_payload(tree, buf, texts.at)
end

local function add_event_list(tree, buf)
    local at = add_record(tree, buf, 0, "eventlist", {})
    if not at then return end
    for i = 0, buf(4, 4):le_uint() - 1 do
        if at + 16 > buf:len() then return end
        local sub = tree:add(vrn3, buf(at, 16), "entries[" .. i .. "]")
        local texts = { at = at + 16 }
        if not add_record(sub, buf, at, "event", texts) then return end
        at = texts.at
    end
end

local notifications = { SCfg = "soundcfg", TimR = "timerange", rset = "reset", ["Rdy "] = "ready" }
local blocks = { snd3 = "fragment", Dat3 = "fragment", vid3 = "video", Vid3 = "video", ["Tag "] = "tag",
    SCDA = "sound", Chun = "chunk", Play = "play" }

-- The record of a block: by its type code, and for a notification by its code.
local function add_block(tree, buf, type, path, form)
    if path == 3 then return add_record(tree, buf, 0, "config", {}) end
    if type == "Hdr3" and form == 1 then return add_header(tree, buf) end
    if type == "ntfy" and buf:len() >= 4 then
        local code = buf(0, 4):string()
        if form == 1 and code == "Evt " then return add_event_list(tree, buf) end
        if form == 1 and code == "NMsg" then
            return add_payload(tree, buf, (add_record(tree, buf, 0, "message", { at = 28 }) and buf:len()) or 0)
        end
        return add_payload(tree, buf, add_record(tree, buf, 0, notifications[code] or "notify", {}) or 0)
    end
    if blocks[type] then return add_payload(tree, buf, add_record(tree, buf, 0, blocks[type], {}) or 0) end
    add_payload(tree, buf, 0)
end

function vrn3.dissector(buf, pinfo, tree)
    if buf:len() < 16 then return 0 end
    pinfo.cols.protocol = "VRN3"
    local type, length = buf(4, 4):string(), buf(8, 4):le_uint()
    local path, direction, form = buf(12, 1):uint(), buf(13, 1):uint(), buf(14, 1):uint()
    local root = tree:add(vrn3, buf(), "VRN3 block " .. buf(0, 4):le_uint() .. ": " .. type)
    local head = root:add(vrn3, buf(0, 16), "Capture header")
    head:add_le(f.sequence, buf(0, 4))
    head:add(f.type, buf(4, 4), type)
    head:add_le(f.length, buf(8, 4))
    head:add(f.path, buf(12, 1))
    head:add(f.direction, buf(13, 1))
    head:add(f.form, buf(14, 1))
    local info = (direction == 0 and "in  " or "out ") .. (paths[path] or "?") .. " " .. type
    if type == "ntfy" and length >= 4 then info = info .. "/" .. buf(16, 4):string() end
    pinfo.cols.info = info
    if length > 0 and 16 + length <= buf:len() then
        add_block(root:add(vrn3, buf(16, length), "Record"), buf(16, length):tvb(), type, path, form)
    end
    return buf:len()
end

DissectorTable.get("wtap_encap"):add(wtap_encaps and wtap_encaps.USER0 or wtap.USER0, vrn3)
