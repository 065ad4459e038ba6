#pragma once
// What the client and the management service agree on: the pipe, its frame and the
// commands. A frame is a 32-bit little-endian byte count followed by that many bytes; a
// request's bytes are the command identifier block and the argument blocks, a reply's
// bytes are the result blocks (vserializer.h).

#include <cstdint>
#include <string>

#include "platform/service/vserializer.h"

namespace cadrosrv {

// The pipe's name as the program names it, and where it lives here.
inline constexpr const wchar_t* kPipeName = L"\\\\.\\pipe\\cdrpipe";
inline constexpr const char* kSocketRelativePath = "run/pipe/cdrpipe";
// The socket of the pipe under the current system root.
std::string defaultSocketPath();

// getString(text name) -> text value
inline constexpr vserializer::guid kGetString{
    0xAD3EBC3C, 0xE6B9, 0x4FCF, {0xAB, 0xB9, 0xED, 0x1B, 0x3D, 0x52, 0x4F, 0x22}};
// getPassword(text key) -> text password
inline constexpr vserializer::guid kGetPassword{
    0x50A1A607, 0x50B9, 0x4DB3, {0x92, 0xEC, 0xB9, 0x40, 0xEB, 0x87, 0xF8, 0xFF}};
// setPassword(text key, text value) -> empty reply
inline constexpr vserializer::guid kSetPassword{
    0x34D9F754, 0x8BE8, 0x46FE, {0x9C, 0xF2, 0x3A, 0xFD, 0xBE, 0x4E, 0x8D, 0xD8}};
// componentInfo(text package, int32 kind) -> text
inline constexpr vserializer::guid kComponentInfo{
    0x943B58AA, 0x49DE, 0x47A5, {0xAA, 0x59, 0x0E, 0x01, 0x0A, 0x48, 0xC3, 0x41}};

// The componentInfo kind that asks for a component's installation directory.
inline constexpr int32_t kComponentInstallPath = 2;

inline constexpr size_t kFrameHeaderSize = 4;
// Frames above these sizes are refused rather than buffered: no setting or password comes
// near them, and a peer announcing more is broken or hostile.
inline constexpr uint32_t kMaxRequestBytes = 1u << 20;
inline constexpr uint32_t kMaxReplyBytes = 64u << 20;

// The 4-byte frame header for `size` bytes, and back.
std::string frameHeader(uint32_t size);
uint32_t parseFrameHeader(const char* header);

}  // namespace cadrosrv
