// Dynamic data exchange: the pieces of the Windows conversation protocol
// that a program-manager client and its server need, on our message loop.
//
// A conversation is two windows posting WM_DDE_* messages to each other
// (wParam: the sender's handle). The texts they name travel as global atoms
// (16-bit numbers from 0xC000, so a valid application atom has the top bit
// of its word set, counted references, names compared without regard to
// case) and the command strings as global memory handles (16-bit numbers, so
// that two of them pack into one lParam). Both tables are process-wide and
// safe to use from any thread.
//
// The initiate broadcast (HWND_BROADCAST on Windows) reaches the windows
// that registered as servers (add_initiate_listener): it is sent to each,
// in order of registration, synchronously, as Windows did.
//
// Index: message numbers, ATOM / global_add_atom / global_delete_atom /
// global_atom_name, HGLOBAL / global_alloc_text / global_text / global_free,
// make_lparam / low_word / high_word, add_initiate_listener /
// remove_initiate_listener / broadcast_initiate.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/loop/message_loop.h"

namespace platform::dde {

enum : unsigned {
  WM_DDE_INITIATE = 0x03E0,
  WM_DDE_TERMINATE = 0x03E1,
  WM_DDE_ACK = 0x03E4,
  WM_DDE_EXECUTE = 0x03E8,
};

// Status word of an execute acknowledgement.
inline constexpr std::uint16_t kDdeAck = 0x8000;  // fAck: the command was carried out

using ATOM = std::uint16_t;  // 0: no atom
// Adds a reference to the atom named `name` (made if new); 0 for an empty
// name, a name over 255 bytes, or a full table.
ATOM global_add_atom(std::string_view name);
// Drops one reference; the atom goes with the last. False for no such atom.
bool global_delete_atom(ATOM atom);
// The atom's name (as first added); nothing for no such atom.
std::optional<std::string> global_atom_name(ATOM atom);

using HGLOBAL = std::uint16_t;  // 0: no memory
// A block holding `text` and its NUL; 0 when the table is full.
HGLOBAL global_alloc_text(std::string_view text);
// The text of a block (up to its first NUL); nothing for no such block.
std::optional<std::string> global_text(HGLOBAL memory);
// Frees a block; false when there is none.
bool global_free(HGLOBAL memory);
// Number of blocks not yet freed (for tests).
std::size_t global_blocks_in_use();

inline LPARAM make_lparam(std::uint16_t low, std::uint16_t high) {
  return static_cast<LPARAM>(static_cast<std::uint32_t>(low) | (static_cast<std::uint32_t>(high) << 16));
}
inline std::uint16_t low_word(LPARAM l) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(l) & 0xFFFF); }
inline std::uint16_t high_word(LPARAM l) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(l) >> 16); }

// Windows that answer WM_DDE_INITIATE broadcasts.
void add_initiate_listener(HWND server);
void remove_initiate_listener(HWND server);
// Sends WM_DDE_INITIATE (wParam `client`, lParam `atoms`) to every listener
// but `client`; returns when all have answered.
void broadcast_initiate(HWND client, LPARAM atoms);

}  // namespace platform::dde
