#pragma once
// The host's stream settings source with its format, rate and resolution objects; every value is a
// plain field the test sets.
#include <cstdint>

#include "host/HostInterfaces.h"
#include "hostobjects/HostContract.h"

namespace zephrin::test {

class TestStreamResolution : public norvale::ipcapture::StreamResolution {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(TestStreamResolution);
  TestStreamResolution() = default;
  TestStreamResolution(uint16_t w, uint16_t h) : width(w), height(h) {}
  uint16_t GetWidth() override { return width; }
  uint16_t GetHeight() override { return height; }

  uint16_t width = 1280;
  uint16_t height = 720;
};

class TestStreamFormat : public norvale::ipcapture::StreamFormat {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(TestStreamFormat);
  void Reserved1() override { HostContract::Violation("StreamFormat", 1); }
  void Reserved2() override { HostContract::Violation("StreamFormat", 2); }
  norvale::ipcapture::StreamResolution* GetResolution() override { return &resolution; }
  int32_t GetCodec() override { return codec; }

  TestStreamResolution resolution;
  int32_t codec = norvale::ipcapture::CodecH264;
};

class TestStreamRate : public norvale::ipcapture::StreamRate {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(TestStreamRate);
  uint16_t GetFrameInterval() override { return frameInterval; }
  void Reserved2() override { HostContract::Violation("StreamRate", 2); }
  uint16_t GetQuality() override { return quality; }
  bool WantsCompanion() override { return companion; }

  uint16_t frameInterval = 40;  // 25 frames per second
  uint16_t quality = 70;
  bool companion = false;
};

class TestStreamSettings : public norvale::ipcapture::StreamSettingsSource {
 public:
  ZEPHRIN_SLOT0_OVERRIDE(TestStreamSettings);
  norvale::ipcapture::StreamFormat* GetFormat() override { return &format; }
  norvale::ipcapture::StreamRate* GetRate() override { return &rate; }
  void Reserved3() override { HostContract::Violation("StreamSettingsSource", 3); }
  void Reserved4() override { HostContract::Violation("StreamSettingsSource", 4); }
  int32_t GetHostValue() override { return hostValue; }

  TestStreamFormat format;
  TestStreamRate rate;
  int32_t hostValue = 0;
};

}  // namespace zephrin::test
