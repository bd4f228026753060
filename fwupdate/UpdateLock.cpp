#include "fwupdate/UpdateLock.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/COneInstance2.h"

namespace fwupdate {

struct CUpdateLock::Held {
  std::string name;
  COneInstance2 mutex;
};

CUpdateLock::CUpdateLock() = default;

CUpdateLock::~CUpdateLock() {
  for (auto& h : m_held) {
    try {
      h->mutex.UnlockAndClose();
    } catch (...) {
      h->mutex.Close();
    }
  }
}

bool CUpdateLock::Take(std::optional<uint32_t> id, const std::string& location) {
  std::vector<std::string> names;
  if (id) {
    char b[32];
    std::snprintf(b, sizeof b, "VoLinkUpdate%08x", *id);
    names.emplace_back(b);
  }
  // Names are file names: a location keeps only its harmless characters.
  std::string at = "VoLinkUpdateAt-";
  for (char c : location) at += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
  names.push_back(at);

  std::vector<std::unique_ptr<Held>> taken;
  for (const std::string& name : names) {
    if (std::any_of(m_held.begin(), m_held.end(), [&](const auto& h) { return h->name == name; })) continue;
    auto h = std::make_unique<Held>();
    h->name = name;
    h->mutex.SetName(name);
    h->mutex.CreateAndLock(0);
    if (!h->mutex.IsLocked()) {
      h->mutex.Close();
      for (auto& t : taken) t->mutex.UnlockAndClose();
      return false;
    }
    taken.push_back(std::move(h));
  }
  for (auto& t : taken) m_held.push_back(std::move(t));
  return true;
}

}  // namespace fwupdate
