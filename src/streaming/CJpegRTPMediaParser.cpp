#include "streaming/CJpegRTPMediaParser.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "streaming/JpegMarkers.h"

namespace norvale {

using namespace jpeg;

namespace {

// The RTP/JPEG main header: type-specific (1), fragment offset (3, big-endian), type (1), Q (1),
// width / 8 (1), height / 8 (1).
constexpr size_t kFragmentOffsetField = 1;
constexpr size_t kTypeField = 4;
constexpr size_t kQField = 5;
constexpr size_t kWidthField = 6;
constexpr size_t kHeightField = 7;
constexpr size_t kMainHeaderSize = 8;
// Every packet carries at least the type-specific byte and the fragment offset.
constexpr size_t kShortestPacket = 4;
// Types 64 and above add the restart marker header: restart interval (2), F, L, restart count (2).
constexpr unsigned kFirstRestartType = 64;
constexpr size_t kRestartHeaderSize = 4;
// Q 128 and above carry the quantization table header: MBZ (1), precision (1), length (2), tables.
constexpr unsigned kFirstInbandQ = 128;
constexpr size_t kQuantHeaderSize = 4;
// A first fragment longer than this carries the headers that fix the length of later ones.
constexpr size_t kShortestFullFirstFragment = 11;
// One byte in eighths of a pixel cannot say 2048; 0 stands for it.
constexpr uint32_t kZeroDimension = 2048;

// ITU-T T.81 Annex K.1 and K.2, in natural (row) order.
constexpr uint8_t kLumaQuantizer[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr uint8_t kChromaQuantizer[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                          24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                          99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                          99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Natural index of the k-th coefficient in zigzag order; quantization tables travel in zigzag order.
constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                                 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                                 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// ITU-T T.81 Annex K.3: the standard Huffman tables (code length counts, then symbols).
constexpr uint8_t kLumDcCodeLens[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kLumDcSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kLumAcCodeLens[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kLumAcSymbols[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr uint8_t kChmDcCodeLens[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kChmDcSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kChmAcCodeLens[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kChmAcSymbols[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// Bounded writer into the header area: every write checks the room left.
class HeaderWriter {
 public:
  HeaderWriter(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
  void Byte(uint8_t b) {
    if (pos_ < capacity_) out_[pos_] = b;
    ++pos_;
  }
  void Word(uint32_t w) {
    Byte(static_cast<uint8_t>(w >> 8));
    Byte(static_cast<uint8_t>(w));
  }
  void Bytes(const uint8_t* data, size_t size) {
    if (pos_ <= capacity_ && size <= capacity_ - pos_) std::memcpy(out_ + pos_, data, size);
    pos_ += size;
  }
  void Marker(uint8_t m) {
    Byte(kMarkerPrefix);
    Byte(m);
  }
  bool Fits() const { return pos_ <= capacity_; }
  size_t Size() const { return pos_; }

 private:
  uint8_t* out_;
  size_t capacity_;
  size_t pos_ = 0;
};

void WriteHuffmanTable(HeaderWriter& w, uint8_t tableClass, uint8_t id, const uint8_t* codeLens, const uint8_t* symbols,
                       size_t symbolCount) {
  w.Marker(kDht);
  w.Word(static_cast<uint32_t>(3 + 16 + symbolCount));
  w.Byte(static_cast<uint8_t>((tableClass << 4) | id));
  w.Bytes(codeLens, 16);
  w.Bytes(symbols, symbolCount);
}

struct QuantTable {
  const uint8_t* data;
  size_t size;  // 64 (8-bit entries) or 128 (16-bit entries)
};

}  // namespace

CJpegRTPMediaParser::CJpegRTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CJpegRTPMediaParser::Reset() {
  CRTPMediaParser::Reset();
  waitingForFirstFragment_ = true;
}

void CJpegRTPMediaParser::MakeTables(int q, uint8_t* tables) {
  q = std::clamp(q, 1, 99);
  const int factor = q < 50 ? 5000 / q : 200 - q * 2;
  for (int i = 0; i < 64; ++i) {
    const int luma = (kLumaQuantizer[kZigzag[i]] * factor + 50) / 100;
    const int chroma = (kChromaQuantizer[kZigzag[i]] * factor + 50) / 100;
    tables[i] = static_cast<uint8_t>(std::clamp(luma, 1, 255));
    tables[64 + i] = static_cast<uint8_t>(std::clamp(chroma, 1, 255));
  }
}

bool CJpegRTPMediaParser::BuildJfifHeaders(const uint8_t* frame, size_t frameSize, uint16_t width, uint16_t height,
                                           uint8_t* out, size_t* outSize, size_t* scanOffset) {
  if (!frame || frameSize < kMainHeaderSize) return false;
  unsigned type = frame[kTypeField];
  const unsigned q = frame[kQField];
  size_t pos = kMainHeaderSize;
  bool restart = false;
  uint16_t restartInterval = 0;
  if (type >= kFirstRestartType) {
    if (frameSize < kMainHeaderSize + kRestartHeaderSize) return false;
    restart = true;
    restartInterval = static_cast<uint16_t>((frame[pos] << 8) | frame[pos + 1]);
    pos += kRestartHeaderSize;
    type -= kFirstRestartType;
  }
  // Types 0 (4:2:2) and 1 (4:2:0) are the only ones with a defined meaning.
  if (type > 1) return false;

  uint8_t scaled[128];
  QuantTable tables[2] = {{nullptr, 0}, {nullptr, 0}};
  int tableCount = 0;
  bool fromQ = q < kFirstInbandQ;
  if (q >= kFirstInbandQ) {
    if (frameSize - pos < kQuantHeaderSize) return false;
    const uint8_t mbz = frame[pos];
    const uint8_t precision = frame[pos + 1];
    const size_t length = (static_cast<size_t>(frame[pos + 2]) << 8) | frame[pos + 3];
    pos += kQuantHeaderSize;
    if (length > frameSize - pos) return false;
    if (mbz != 0 || length == 0) {
      fromQ = true;
    } else {
      const size_t size0 = (precision & 1) ? 128 : 64;
      const size_t size1 = (precision & 2) ? 128 : 64;
      if (length == size0) {
        tables[0] = {frame + pos, size0};
        tableCount = 1;
      } else if (length == size0 + size1) {
        tables[0] = {frame + pos, size0};
        tables[1] = {frame + pos + size0, size1};
        tableCount = 2;
      } else {
        return false;
      }
    }
    pos += length;
  }
  if (fromQ) {
    MakeTables(static_cast<int>(q), scaled);
    tables[0] = {scaled, 64};
    tables[1] = {scaled + 64, 64};
    tableCount = 2;
  }
  if (pos > frameSize) return false;

  HeaderWriter w(out, kHeaderArea);
  w.Marker(kSoi);
  w.Marker(kApp0);
  w.Word(16);                                            // segment length
  w.Bytes(reinterpret_cast<const uint8_t*>("JFIF"), 5);  // identifier, zero-terminated
  w.Byte(1);                                             // major version
  w.Byte(1);                                             // minor version
  w.Byte(0);                                             // density units: none (aspect ratio only)
  w.Word(1);                                             // horizontal density
  w.Word(1);                                             // vertical density
  w.Byte(0);                                             // thumbnail width
  w.Byte(0);                                             // thumbnail height
  if (restart) {
    w.Marker(kDri);
    w.Word(4);                // segment length
    w.Word(restartInterval);  // restart interval in MCUs
  }
  for (int i = 0; i < tableCount; ++i) {
    w.Marker(kDqt);
    w.Word(static_cast<uint32_t>(3 + tables[i].size));                         // segment length
    w.Byte(static_cast<uint8_t>(((tables[i].size == 128 ? 1 : 0) << 4) | i));  // precision (16-bit: 1), table id
    w.Bytes(tables[i].data, tables[i].size);                                   // 64 entries in zigzag order
  }
  const uint8_t chromaTable = tableCount > 1 ? 1 : 0;
  w.Marker(kSof0);
  w.Word(17);                       // segment length: 8 + 3 components x 3
  w.Byte(8);                        // sample precision
  w.Word(height);                   // number of lines
  w.Word(width);                    // samples per line
  w.Byte(3);                        // number of components
  w.Byte(kComponentY);              // component id
  w.Byte(type == 0 ? 0x21 : 0x22);  // sampling: 2x1 (4:2:2) or 2x2 (4:2:0)
  w.Byte(0);                        // quantization table
  w.Byte(kComponentCb);
  w.Byte(0x11);  // sampling 1x1
  w.Byte(chromaTable);
  w.Byte(kComponentCr);
  w.Byte(0x11);
  w.Byte(chromaTable);
  WriteHuffmanTable(w, kDcTable, 0, kLumDcCodeLens, kLumDcSymbols, sizeof(kLumDcSymbols));
  WriteHuffmanTable(w, kAcTable, 0, kLumAcCodeLens, kLumAcSymbols, sizeof(kLumAcSymbols));
  WriteHuffmanTable(w, kDcTable, 1, kChmDcCodeLens, kChmDcSymbols, sizeof(kChmDcSymbols));
  WriteHuffmanTable(w, kAcTable, 1, kChmAcCodeLens, kChmAcSymbols, sizeof(kChmAcSymbols));
  w.Marker(kSos);
  w.Word(12);  // segment length: 6 + 3 components x 2
  w.Byte(3);   // components in the scan
  w.Byte(kComponentY);
  w.Byte(0x00);  // DC table 0, AC table 0
  w.Byte(kComponentCb);
  w.Byte(0x11);  // DC table 1, AC table 1
  w.Byte(kComponentCr);
  w.Byte(0x11);
  w.Byte(0);   // start of spectral selection
  w.Byte(63);  // end of spectral selection
  w.Byte(0);   // successive approximation
  if (!w.Fits()) return false;
  *outSize = w.Size();
  *scanOffset = pos;
  return true;
}

void CJpegRTPMediaParser::HandlePacket(const CRTPPacket& packet) {
  const uint8_t* payload = packet.Payload();
  const size_t size = packet.payload.size();
  if (size < kShortestPacket) {
    CountDrop(DropReason::Malformed);
    Reset();
    return;
  }
  if (packet.marker) markerSeen_ = true;
  const uint32_t offset = (static_cast<uint32_t>(payload[kFragmentOffsetField]) << 16) |
                          (payload[kFragmentOffsetField + 1] << 8) | payload[kFragmentOffsetField + 2];
  if (offset == 0) {
    if (size > kShortestFullFirstFragment)
      headerLength_ = payload[kTypeField] < kFirstRestartType ? kMainHeaderSize : kMainHeaderSize + kRestartHeaderSize;
    // A first fragment starts a new frame; whatever an unfinished one left behind cannot belong to it.
    frame_.clear();
    Append(payload, size);
    waitingForFirstFragment_ = false;
  } else {
    if (waitingForFirstFragment_) {
      if (packet.marker) CountDrop(DropReason::NoKeyFrame);
      Reset();
      return;
    }
    if (size > headerLength_) Append(payload + headerLength_, size - headerLength_);
  }
  if (!CheckBufferSize()) {
    Reset();
    return;
  }
  if (packet.marker && !frame_.empty()) CompleteFrame(packet.timestamp);
}

void CJpegRTPMediaParser::ProcessFrame(uint32_t timestamp) {
  if (!client_ || frame_.empty()) return;
  const auto lastFF = std::find(frame_.rbegin(), frame_.rend(), kMarkerPrefix);
  const bool hasEnd = lastFF != frame_.rend() && lastFF != frame_.rbegin() && *(lastFF - 1) == kEoi;
  if (!hasEnd) {
    static constexpr uint8_t kEndOfImage[2] = {kMarkerPrefix, kEoi};
    Append(kEndOfImage, sizeof(kEndOfImage));
  }
  if (frame_.size() < kMainHeaderSize) {
    CountDrop(DropReason::Malformed);
    Reset();
    return;
  }
  const auto [requestedWidth, requestedHeight] = client_->GetRequestedSize();
  // One byte in eighths of a pixel cannot say 2048 or more; the size the channel asked for wins when it
  // is more than twice what the header says.
  uint32_t width = frame_[kWidthField] * 8u, height = frame_[kHeightField] * 8u;
  if (requestedWidth > 2 * width)
    width = requestedWidth;
  else if (width == 0)
    width = kZeroDimension;
  if (requestedHeight > 2 * height)
    height = requestedHeight;
  else if (height == 0)
    height = kZeroDimension;

  uint8_t header[kHeaderArea];
  size_t headerSize = 0, scanOffset = 0;
  if (!BuildJfifHeaders(frame_.data(), frame_.size(), static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                        header, &headerSize, &scanOffset)) {
    CountDrop(DropReason::Malformed);
    Reset();
    return;
  }
  width_ = static_cast<uint16_t>(width);
  height_ = static_cast<uint16_t>(height);
  static constexpr HandOverFailureLine kAllocationFailure = {"%s: Frame allocation error, device %s",
                                                             __PRETTY_FUNCTION__};
  HandOverFrame(MakeFourCC('J', 'P', 'E', 'G'), CapacityClass(frame_.size() + kHeaderArea), header, headerSize,
                frame_.data() + scanOffset, frame_.size() - scanOffset, timestamp, kAllocationFailure);
}

}  // namespace norvale
