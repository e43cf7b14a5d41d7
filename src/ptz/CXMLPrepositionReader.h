#pragma once
// Named presets of every PTZ channel of a device, kept in one UTF-8 XML file:
//   <root>/PtzChannelNN/PrepositionNNN/{Name,Slot}
// with NN the channel number plus 1 (two digits) and NNN the list position (three digits, from 000).
#include <cstdint>
#include <string>

#include "runtime/CXMLSettingsAPI.h"
#include "runtime/IDriver.h"
#include "runtime/RecursiveLock.h"

class CXMLPrepositionReader {
 public:
  // log (optional, not owned) receives the lines about replaced preset files.
  explicit CXMLPrepositionReader(const std::string& rootName, IDebugMessage* log = nullptr);
  virtual ~CXMLPrepositionReader();
  CXMLPrepositionReader(const CXMLPrepositionReader&) = delete;
  CXMLPrepositionReader& operator=(const CXMLPrepositionReader&) = delete;

  // Directory a bare file name is placed in; empty (the default) means the host executable's.
  void SetBaseDirectory(const std::string& directory);

  // Opens the preset file, or replaces a missing, empty or unreadable one with a fresh document. An
  // unreadable file is first kept aside under a new name (<file>.bad, <file>.bad1, ...) so nothing a
  // user could recover is destroyed. An absolute file name is used as it stands. Auto-save becomes
  // the result.
  bool Init(const std::string& fileName);

  // True only when the entry has a non-empty name and a decimal slot number.
  bool ReadEntry(uint32_t channel, uint32_t position, std::string& name, uint32_t& slot);
  // Writes Name, then Slot, creating the elements; saves when auto-save is on.
  bool WriteEntry(uint32_t channel, uint32_t position, const std::string& name, uint32_t slot);
  // Removes the channel's element with all its entries; saves when auto-save is on.
  bool ClearChannel(uint32_t channel);
  // Turning auto-save on saves the file at once; returns that save's result (true otherwise).
  bool SetAutoSave(bool on);
  bool AutoSave();

  // Held by a caller that rewrites a channel in several steps, so no other channel's save lands
  // between them.
  norvale::RecursiveLock& Lock() { return lock_; }
  // Full path of the open file; empty when none is open.
  std::string Path();
  const std::string& RootName() const { return rootName_; }

  // Whether the text can be stored as a name and read back unchanged: valid UTF-8 without control
  // characters.
  static bool IsStorableText(const std::string& text);

 private:
  std::string ChannelPath(uint32_t channel) const;
  std::string EntryPath(uint32_t channel, uint32_t position) const;
  bool SaveIfAuto();
  // Moves an unreadable file to a free name beside it; false when that is impossible.
  bool KeepAside(const std::string& path, std::string* keptAs);

  const std::string rootName_;
  IDebugMessage* log_;
  norvale::RecursiveLock lock_;
  norvale::CXMLSettingsAPI settings_;
  bool autoSave_ = false;
};
