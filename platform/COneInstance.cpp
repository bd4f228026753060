#include "platform/COneInstance.h"

#include "platform/COneInstance2.h"

COneInstance::COneInstance() = default;

COneInstance::~COneInstance() { Close(); }

void COneInstance::SetName(const std::string& name) { m_szName = name.substr(0, kMaxObjectName); }

bool COneInstance::OpenHandle(bool* existed, bool* denied) {
  auto mutex = std::make_unique<platform::NamedMutex>();
  const platform::OpenStatus s = mutex->Open(m_szName, existed);
  *denied = s == platform::OpenStatus::AccessDenied;
  if (s != platform::OpenStatus::Created && s != platform::OpenStatus::Existed) return false;
  m_hMutex = std::move(mutex);
  return true;
}

void COneInstance::CreateExclusive() {
  if (m_hMutex || m_bCreated) return;
  bool existed = false, denied = false;
  m_bCreated = OpenHandle(&existed, &denied) && !denied && !existed;
  m_bExistedBefore = false;
  if (!m_bCreated) m_hMutex.reset();
}

void COneInstance::CreateShared() {
  if (m_hMutex || m_bCreated) return;
  bool existed = false, denied = false;
  m_bCreated = OpenHandle(&existed, &denied) && !denied;
  m_bExistedBefore = m_bCreated && existed;
  if (!m_bCreated) m_hMutex.reset();
}

void COneInstance::Close() {
  m_hMutex.reset();
  m_bCreated = false;
  m_bExistedBefore = false;
}

bool COneInstance::IsCreated() const { return m_bCreated; }

bool COneInstance::ExistedBefore() const { return m_bExistedBefore; }
