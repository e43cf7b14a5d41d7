#include "ptz/CPrepositionList.h"

#include <algorithm>

#include "host/HostInterfaces.h"
#include "runtime/StringUtils.h"

namespace norvale {

CPrepositionList::CPrepositionList(int32_t channel) : channel_(channel) {}

CPrepositionList::~CPrepositionList() = default;

void CPrepositionList::SetCommunicator(IPrepositionComm* comm, uint32_t slotCount) {
  // Waits for a camera operation in progress: the communicator may be deleted after this returns.
  RecursiveLockGuard camera(cameraLock_);
  RecursiveLockGuard guard(lock_);
  comm_ = comm;
  slotCount_ = std::min(slotCount, kMaxSlots);
}

uint32_t CPrepositionList::SlotCount() {
  RecursiveLockGuard guard(lock_);
  return slotCount_;
}

int32_t CPrepositionList::CurrentPosition() {
  RecursiveLockGuard guard(lock_);
  return current_;
}

bool CPrepositionList::SetStorage(const TSmartPtr<CXMLPrepositionReader>& reader) {
  RecursiveLockGuard guard(lock_);
  reader_ = reader;
  if (!reader_) return false;
  Load();
  return true;
}

void CPrepositionList::Load() {
  RecursiveLockGuard guard(lock_);
  names_.clear();
  order_.clear();
  current_ = -1;
  if (!reader_) return;
  for (uint32_t position = 0; position < slotCount_; ++position) {
    std::string name;
    uint32_t slot = 0;
    if (!reader_->ReadEntry(static_cast<uint32_t>(channel_), position, name, slot)) continue;
    // A slot listed twice (a hand-edited file) is kept once, as its first entry says.
    if (names_.count(slot)) continue;
    names_[slot] = name;
    order_.push_back(slot);
  }
}

int32_t CPrepositionList::GetCount() {
  RecursiveLockGuard guard(lock_);
  return static_cast<int32_t>(order_.size());
}

bool CPrepositionList::NameAt(int32_t position, std::string& name) {
  if (position < 0 || static_cast<size_t>(position) >= order_.size()) return false;
  auto it = names_.find(order_[static_cast<size_t>(position)]);
  if (it == names_.end()) return false;
  name = it->second;
  return true;
}

bool CPrepositionList::GetName(int32_t position, std::string& name) {
  RecursiveLockGuard guard(lock_);
  return NameAt(position, name);
}

bool CPrepositionList::GetCurrentName(std::string& name) {
  RecursiveLockGuard guard(lock_);
  return NameAt(current_, name);
}

void CPrepositionList::ClearCurrent() {
  RecursiveLockGuard guard(lock_);
  current_ = -1;
  ++moves_;
}

bool CPrepositionList::Goto(const std::string& name, int32_t value) {
  if (name.empty()) return false;
  RecursiveLockGuard camera(cameraLock_);
  IPrepositionComm* comm = nullptr;
  uint32_t slot = 0;
  int32_t position = -1;
  uint64_t moves = 0;
  {
    RecursiveLockGuard guard(lock_);
    auto named = std::find_if(names_.begin(), names_.end(), [&](const auto& entry) { return entry.second == name; });
    if (named == names_.end()) return false;
    slot = named->first;
    auto at = std::find(order_.begin(), order_.end(), slot);
    if (at == order_.end()) return false;
    position = static_cast<int32_t>(at - order_.begin());
    if (position == current_) return true;
    comm = comm_;
    moves = moves_;
  }
  if (!comm || !comm->GotoPreposition(slot, name, value)) return false;
  RecursiveLockGuard guard(lock_);
  if (moves_ == moves) current_ = position;
  return true;
}

bool CPrepositionList::IsValidName(const std::string& name) {
  return !name.empty() && name.size() <= kMaxNameBytes && name.find_first_of("&!<>'\"") == std::string::npos &&
         CXMLPrepositionReader::IsStorableText(name);
}

int32_t CPrepositionList::Add(const std::string& name) {
  // The host's log sink is called only after the list lock is released (a sink that blocks, or asks
  // the list from another thread, must not hold every other list call); the camera lock keeps the
  // communicator alive meanwhile.
  RecursiveLockGuard camera(cameraLock_);
  IPrepositionComm* comm = nullptr;
  uint32_t slot = 0;
  uint32_t slotCount = 0;
  bool rename = false;
  bool full = false;
  {
    RecursiveLockGuard guard(lock_);
    comm = comm_;
    slotCount = slotCount_;
    if (!comm) return ipcapture::PTZ_Failed;
    if (IsValidName(name)) {
      rename = current_ >= 0;
      full = !rename && order_.size() >= slotCount_;
      if (!rename && !full) {
        while (slot < slotCount_ && names_.count(slot)) ++slot;
        if (slot >= slotCount_) return ipcapture::PTZ_PresetLimit;
      }
    }
  }
  if (!IsValidName(name)) {
    comm->Log(LogError, "%s: A preposition \"%s\" cannot be added - the name is invalid.",
              "norvale::CPrepositionList::AddPreposition", ForLog(name).c_str());
    return ipcapture::PTZ_BadArgument;
  }
  if (rename) return RenameCurrentPreposition(name);
  if (full) {
    comm->Log(LogError,
              "%s: A preposition \"%s\" cannot be added. Camera supports saving not more than %u prepositions.",
              "norvale::CPrepositionList::AddPreposition", name.c_str(), slotCount);
    return ipcapture::PTZ_PresetLimit;
  }
  // Other camera operations wait on the camera lock, so the slot stays free meanwhile.
  if (!comm->StorePreposition(slot, name)) return ipcapture::PTZ_Failed;
  RecursiveLockGuard guard(lock_);
  names_[slot] = name;
  order_.push_back(slot);
  current_ = static_cast<int32_t>(order_.size() - 1);
  // A preset the camera stored stays in the list even when the file cannot be written; the next
  // SaveAll writes it.
  return StoreEntry(current_, slot, name) ? ipcapture::PTZ_OK : ipcapture::PTZ_Failed;
}

int32_t CPrepositionList::RenameCurrentPreposition(const std::string& name) {
  // The camera lock keeps the communicator alive until its log call, made outside the list lock.
  RecursiveLockGuard camera(cameraLock_);
  IPrepositionComm* comm = nullptr;
  int32_t position = -1;
  std::string oldName;
  {
    RecursiveLockGuard guard(lock_);
    if (current_ < 0) return ipcapture::PTZ_Failed;
    if (static_cast<size_t>(current_) >= order_.size()) return ipcapture::PTZ_BadArgument;
    const uint32_t slot = order_[static_cast<size_t>(current_)];
    auto it = names_.find(slot);
    if (it == names_.end()) return ipcapture::PTZ_Failed;
    if (!StoreEntry(current_, slot, name)) return ipcapture::PTZ_Failed;
    oldName = it->second;
    it->second = name;
    position = current_;
    comm = comm_;
  }
  if (comm)
    comm->Log(LogInfo, "%s: A preposition with index %d was renamed from \"%s\" to \"%s\".", ZEPHRIN_FUNCTION, position,
              oldName.c_str(), name.c_str());
  return ipcapture::PTZ_OK;
}

bool CPrepositionList::Remove(const std::string& name) {
  if (name.empty()) return false;
  RecursiveLockGuard camera(cameraLock_);
  IPrepositionComm* comm = nullptr;
  uint32_t slot = 0;
  {
    RecursiveLockGuard guard(lock_);
    auto named = std::find_if(names_.begin(), names_.end(), [&](const auto& entry) { return entry.second == name; });
    if (named == names_.end() || !comm_) return false;
    slot = named->first;
    comm = comm_;
  }
  const bool removed = comm->RemovePreposition(slot, name);
  RecursiveLockGuard guard(lock_);
  if (removed) {
    names_.erase(slot);
    order_.erase(std::remove(order_.begin(), order_.end(), slot), order_.end());
  }
  current_ = -1;
  return SaveAll();
}

bool CPrepositionList::StoreEntry(int32_t position, uint32_t slot, const std::string& name) {
  RecursiveLockGuard guard(lock_);
  if (!reader_ || position < 0) return false;
  return reader_->WriteEntry(static_cast<uint32_t>(channel_), static_cast<uint32_t>(position), name, slot);
}

bool CPrepositionList::SaveAll() {
  RecursiveLockGuard guard(lock_);
  if (!reader_) return false;
  // The channel is rewritten from scratch (positions renumbered from 000) and saved once at the end;
  // the reader's lock keeps other channels' saves out of the half-written state.
  RecursiveLockGuard fileGuard(reader_->Lock());
  const auto channel = static_cast<uint32_t>(channel_);
  reader_->SetAutoSave(false);
  bool ok = reader_->ClearChannel(channel);
  for (size_t position = 0; ok && position < order_.size(); ++position) {
    auto it = names_.find(order_[position]);
    if (it == names_.end()) break;
    ok = reader_->WriteEntry(channel, static_cast<uint32_t>(position), it->second, it->first);
  }
  const bool saved = reader_->SetAutoSave(true);
  return ok && saved;
}

}  // namespace norvale
