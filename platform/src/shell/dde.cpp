#include "platform/shell/dde.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

namespace platform::dde {
namespace {

struct AtomEntry {
  std::string name;
  std::string key;  // lower-cased: atoms ignore case
  int references = 0;
};

struct Tables {
  std::mutex mutex;
  std::map<ATOM, AtomEntry> atoms;
  std::map<HGLOBAL, std::string> blocks;
  HGLOBAL next_block = 1;
  std::vector<HWND> listeners;
};

Tables& tables() {
  static Tables t;
  return t;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

}  // namespace

ATOM global_add_atom(std::string_view name) {
  if (name.empty() || name.size() > 255) return 0;
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  const std::string key = Lower(name);
  for (auto& [atom, entry] : t.atoms) {
    if (entry.key == key) {
      ++entry.references;
      return atom;
    }
  }
  for (std::uint32_t a = 0xC000; a <= 0xFFFF; ++a) {
    if (!t.atoms.count(static_cast<ATOM>(a))) {
      t.atoms[static_cast<ATOM>(a)] = AtomEntry{std::string(name), key, 1};
      return static_cast<ATOM>(a);
    }
  }
  return 0;
}

bool global_delete_atom(ATOM atom) {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.atoms.find(atom);
  if (it == t.atoms.end()) return false;
  if (--it->second.references <= 0) t.atoms.erase(it);
  return true;
}

std::optional<std::string> global_atom_name(ATOM atom) {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.atoms.find(atom);
  if (it == t.atoms.end()) return std::nullopt;
  return it->second.name;
}

HGLOBAL global_alloc_text(std::string_view text) {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (t.blocks.size() >= 0xFFFF) return 0;
  // Handles are reused only after the counter wraps, so a stale one rarely
  // names a new block.
  while (t.next_block == 0 || t.blocks.count(t.next_block)) ++t.next_block;
  const HGLOBAL h = t.next_block++;
  std::string block(text);
  block += '\0';
  t.blocks.emplace(h, std::move(block));
  return h;
}

std::optional<std::string> global_text(HGLOBAL memory) {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.blocks.find(memory);
  if (it == t.blocks.end()) return std::nullopt;
  return std::string(it->second.c_str());
}

bool global_free(HGLOBAL memory) {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.blocks.erase(memory) > 0;
}

std::size_t global_blocks_in_use() {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.blocks.size();
}

void add_initiate_listener(HWND server) {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (std::find(t.listeners.begin(), t.listeners.end(), server) == t.listeners.end()) t.listeners.push_back(server);
}

void remove_initiate_listener(HWND server) {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.listeners.erase(std::remove(t.listeners.begin(), t.listeners.end(), server), t.listeners.end());
}

void broadcast_initiate(HWND client, LPARAM atoms) {
  std::vector<HWND> listeners;
  {
    Tables& t = tables();
    std::lock_guard<std::mutex> lock(t.mutex);
    listeners = t.listeners;
  }
  // Sent without the lock: a listener answers with a message of its own.
  for (HWND server : listeners) {
    if (server != client) send_message(server, WM_DDE_INITIATE, client, atoms);
  }
}

}  // namespace platform::dde
