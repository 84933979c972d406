-- SPDX-FileCopyrightText: 2026 The vemutils authors
-- SPDX-License-Identifier: MIT

-- Wireshark dissector for the frames vemlink captures (vemlink tap, decode,
-- monitor --pcap, or live through its extcap entry). Wireshark 4.0, Lua 5.2.
--
-- Each packet, behind the exported-PDU tag that names this dissector, is a
-- 16-byte record header (version, status, direction, offset, length on the
-- wire; big-endian) and then the frame's bytes between its flags as they
-- were received: still stuffed (7D, then the byte XOR 20), FCS-16 last.
--
-- A frame that vemlink tap impaired on purpose (--to-device, --to-app)
-- carries what was done in its packet comment, for example "corrupted byte
-- 17 bit 3" or "lost" (a lost frame is recorded as it was read); it is shown
-- as vemlink.impairment, in the tree and at the end of the Info column.
--
-- Your own protocol in the payload of good frames: name its dissector in
-- the preference vemlink.payload_dissector (tshark -o
-- vemlink.payload_dissector:myproto), or register it from your own Lua
-- file in the table "vemlink.payload" under 0:
--   DissectorTable.get("vemlink.payload"):add(0, myproto)
-- (Wireshark 4.0 offers no Decode As for tables made in Lua.)

local vemlink = Proto("vemlink", "vemlink HDLC-like link frame")

local STATUS = { [0] = "ok", [1] = "crc-error", [2] = "dropped", [3] = "partial" }
local HEADER = 16
local INFO_BYTES = 24 -- bytes of data shown in the Info column

local f = {
    status = ProtoField.string("vemlink.status", "Status"),
    direction = ProtoField.string("vemlink.direction", "Direction"),
    offset = ProtoField.uint64("vemlink.offset", "Offset of the opening flag"),
    length = ProtoField.uint32("vemlink.length", "Length"),
    wire = ProtoField.bytes("vemlink.wire", "Bytes on the wire"),
    payload = ProtoField.bytes("vemlink.payload", "Payload"),
    fcs = ProtoField.uint16("vemlink.fcs", "FCS", base.HEX),
    fcs_status = ProtoField.uint8("vemlink.fcs.status", "FCS check", base.DEC,
        { [0] = "Wrong", [1] = "Correct" }),
    impairment = ProtoField.string("vemlink.impairment", "Impairment"),
}
vemlink.fields = f

local frame_comment = Field.new("frame.comment")

local fcs_wrong = ProtoExpert.new("vemlink.fcs.wrong", "FCS wrong",
    expert.group.CHECKSUM, expert.severity.ERROR)
local not_ok = ProtoExpert.new("vemlink.not_ok", "Frame not delivered",
    expert.group.MALFORMED, expert.severity.WARN)
local impaired = ProtoExpert.new("vemlink.impaired", "Impaired on purpose by the tap",
    expert.group.COMMENTS_GROUP, expert.severity.NOTE)
local no_dissector = ProtoExpert.new("vemlink.no_payload_dissector",
    "No dissector of that name", expert.group.UNDECODED, expert.severity.WARN)
vemlink.experts = { fcs_wrong, not_ok, impaired, no_dissector }

vemlink.prefs.payload_dissector = Pref.string("Payload dissector", "",
    "The name of a dissector for the payload of good frames, e.g. myproto")

-- The payload of every good frame, when the preference names no dissector.
local payload_table = DissectorTable.new("vemlink.payload", "vemlink payload", ftypes.UINT8, base.DEC, vemlink)

-- FCS-16 of RFC 1662 (polynomial 0x8408, reflected), bit by bit.
local function fcs16(bytes)
    local fcs = 0xFFFF
    for i = 0, bytes:len() - 1 do
        fcs = bit32.bxor(fcs, bytes:get_index(i))
        for _ = 1, 8 do
            if bit32.band(fcs, 1) ~= 0 then
                fcs = bit32.bxor(bit32.rshift(fcs, 1), 0x8408)
            else
                fcs = bit32.rshift(fcs, 1)
            end
        end
    end
    return bit32.bxor(fcs, 0xFFFF)
end

local function unstuff(bytes)
    local out = ByteArray.new()
    local escaped = false
    for i = 0, bytes:len() - 1 do
        local b = bytes:get_index(i)
        if escaped then
            out:append(ByteArray.new(string.format("%02x", bit32.bxor(b, 0x20))))
            escaped = false
        elseif b == 0x7D then
            escaped = true
        else
            out:append(ByteArray.new(string.format("%02x", b)))
        end
    end
    return out
end

-- The listing's data column: hex, then the text between bars.
local function shown(bytes)
    local n = math.min(bytes:len(), INFO_BYTES)
    local hex, text = {}, {}
    for i = 0, n - 1 do
        local b = bytes:get_index(i)
        hex[#hex + 1] = string.format("%02X", b)
        text[#text + 1] = (b >= 0x20 and b < 0x7F) and string.char(b) or "."
    end
    if n == 0 then
        return ""
    end
    return table.concat(hex, " ") .. (n < bytes:len() and " ..." or "") ..
        "  |" .. table.concat(text) .. "|"
end

function vemlink.dissector(tvb, pinfo, tree)
    if tvb:len() < HEADER or tvb(0, 1):uint() ~= 1 then
        return 0
    end
    pinfo.cols.protocol = "vemlink"
    local status = STATUS[tvb(1, 1):uint()] or "unknown"
    local direction = string.char(tvb(2, 1):uint())
    local offset = tvb(4, 8):uint64()
    local wire_len = tvb(12, 4):uint()
    local wire = tvb:bytes(HEADER)
    local data = unstuff(wire)

    local root = tree:add(vemlink, tvb(), "vemlink frame, " .. status)
    local item = root:add(f.status, tvb(1, 1), status)
    if status ~= "ok" then
        item:add_proto_expert_info(not_ok, "Frame not delivered: " .. status)
    end
    root:add(f.direction, tvb(2, 1), direction)
    root:add(f.offset, tvb(4, 8))
    root:add(f.wire, tvb(HEADER))

    local closed = status == "ok" or status == "crc-error"
    local payload = data
    local length = wire_len
    local utvb = data:tvb("Unstuffed")
    if closed and data:len() >= 2 then
        payload = data:subset(0, data:len() - 2)
        local received = data:get_index(data:len() - 2) + 256 * data:get_index(data:len() - 1)
        local computed = fcs16(payload)
        local good = received == computed
        local fcs_item = root:add(f.fcs, utvb(data:len() - 2, 2), received)
        fcs_item:append_text(good and " [correct]" or
            string.format(" [wrong, should be 0x%04x]", computed))
        root:add(f.fcs_status, utvb(data:len() - 2, 2), good and 1 or 0)
        if not good then
            fcs_item:add_proto_expert_info(fcs_wrong)
        end
    end
    if status == "ok" then
        length = payload:len()
    end
    root:add(f.length, tvb(12, 4), length)
    local ptvb = payload:len() > 0 and utvb(0, payload:len()):tvb() or nil
    if ptvb ~= nil then
        root:add(f.payload, ptvb())
    end

    pinfo.cols.info = string.format("%s %8s  %6d  %-9s  %s", direction, tostring(offset), length,
        status, shown(status == "ok" and payload or wire))

    -- What the tap did to the frame, from the record's comment.
    local comment = frame_comment()
    if comment ~= nil then
        local text = comment.value
        root:add(f.impairment, text):add_proto_expert_info(impaired, "Impaired: " .. text)
        pinfo.cols.info:append("  ! " .. text)
    end

    if status == "ok" and ptvb ~= nil then
        local name = vemlink.prefs.payload_dissector
        if name ~= "" then
            local found, d = pcall(Dissector.get, name)
            if found and d ~= nil then
                d:call(ptvb, pinfo, tree)
            else
                root:add_proto_expert_info(no_dissector, "No dissector named " .. name)
            end
        else
            payload_table:try(0, ptvb, pinfo, tree)
        end
    end
    return tvb:len()
end
