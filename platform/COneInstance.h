// A named mutex used only as a presence marker: a program of the tool family
// keeps it open while it owns an adapter, so that the others can tell that it
// runs. Nobody ever waits on it.
#pragma once

#include <memory>
#include <string>

#include "platform/NamedObjects.h"

class COneInstance {
 public:
  COneInstance();
  // Closes the handle.
  virtual ~COneInstance();
  COneInstance(const COneInstance&) = delete;
  COneInstance& operator=(const COneInstance&) = delete;

  // Creates or opens the marker (only without a handle and when not created).
  // Created: a handle was obtained and nobody else had the marker open.
  // Otherwise the handle is closed again.
  virtual void CreateExclusive();
  // Created: a handle was obtained; ExistedBefore tells whether another
  // holder had the marker open already.
  virtual void CreateShared();
  virtual void Close();
  virtual bool IsCreated() const;
  virtual bool ExistedBefore() const;

  // The marker's full name, cut to 127 characters.
  void SetName(const std::string& name);
  const std::string& GetName() const { return m_szName; }

 private:
  // Opens the marker; false when no handle was obtained.
  bool OpenHandle(bool* existed, bool* denied);

  std::unique_ptr<platform::NamedMutex> m_hMutex;
  bool m_bCreated = false;
  bool m_bExistedBefore = false;
  std::string m_szName;
};
