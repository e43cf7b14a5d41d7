#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ptz/CXMLPrepositionReader.h"
#include "ptz/IPrepositionComm.h"
#include "runtime/RecursiveLock.h"
#include "runtime/TSmartPtr.h"

namespace norvale {

// The named presets of one PTZ channel. A preset is a camera slot (stored on the camera through
// IPrepositionComm) with the user's name (stored in the device's preset file). The list order is what
// the host sees; the current position is the preset the camera was last sent to or last added, until
// the camera moves. The list lock guards the names and is never held while the camera answers: the
// host can read the list and move the camera while a preset request is on its way. The camera
// operations (go to, add, remove) run one at a time under the camera lock; detaching the
// communicator waits for the one in progress, so its request should be abandoned first (the
// communicator's Close does that).
class CPrepositionList {
 public:
  // Longest name, in bytes of UTF-8, that is accepted.
  static constexpr size_t kMaxNameBytes = 255;
  // Positions are stored as three digits, so no camera offers more slots than this here.
  static constexpr uint32_t kMaxSlots = 1000;

  explicit CPrepositionList(int32_t channel);

  virtual bool StoreEntry(int32_t position, uint32_t slot, const std::string& name);  // slot 0
  virtual bool SaveAll();                                                             // slot 1
  virtual void Load();                                                                // slot 2
  virtual ~CPrepositionList();                                                        // slot 3
  virtual bool SetStorage(const TSmartPtr<CXMLPrepositionReader>& reader);            // slot 4
  virtual int32_t GetCount();                                                         // slot 5
  virtual bool GetName(int32_t position, std::string& name);                          // slot 6
  virtual bool Goto(const std::string& name, int32_t value);                          // slot 7
  // 1 added or renamed; -3 invalid name; -18 no camera, camera or file failure; -26 no free slot.
  virtual int32_t Add(const std::string& name);    // slot 8
  virtual bool Remove(const std::string& name);    // slot 9
  virtual bool GetCurrentName(std::string& name);  // slot 10

  // Renames the preset at the current position (file and list; the camera keeps its position).
  int32_t RenameCurrentPreposition(const std::string& name);
  void ClearCurrent();

  // The communicator (not owned; null detaches it) and the camera's number of preset slots.
  void SetCommunicator(IPrepositionComm* comm, uint32_t slotCount);
  uint32_t SlotCount();
  int32_t CurrentPosition();

  // Non-empty, at most kMaxNameBytes, none of & ! < > ' ", valid UTF-8 without control characters.
  static bool IsValidName(const std::string& name);

 private:
  bool NameAt(int32_t position, std::string& name);

  int32_t channel_;
  IPrepositionComm* comm_ = nullptr;
  uint32_t slotCount_ = 0;
  TSmartPtr<CXMLPrepositionReader> reader_;
  RecursiveLock cameraLock_;  // taken before lock_, never after it
  RecursiveLock lock_;
  uint64_t moves_ = 0;  // ClearCurrent calls: a move during a go-to wins over the go-to's position
  std::map<uint32_t, std::string> names_;
  std::vector<uint32_t> order_;
  int32_t current_ = -1;
};

}  // namespace norvale
