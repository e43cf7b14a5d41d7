#!/usr/bin/env python3
"""The layer check catches an include that points upward and lets the allowed ones pass."""
import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import check_includes  # noqa: E402


class LayerCheck(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self._dir.name)

    def tearDown(self):
        self._dir.cleanup()

    def write(self, relative, text):
        path = self.root / "src" / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)

    def found(self):
        return [(path.relative_to(self.root).as_posix(), number)
                for path, number, _ in check_includes.violations(self.root)]

    def test_downward_and_sideways_includes_pass(self):
        self.write("host/HostInterfaces.h", "#include <cstdint>\n")
        self.write("runtime/IDriver.h", '#include "host/HostInterfaces.h"\n')
        self.write("streaming/CRTPReceiver.cpp",
                   '#include "streaming/CRTPReceiver.h"\n#include "runtime/IDriver.h"\n#include <atomic>\n')
        self.write("streaming/CRTPReceiver.h", "#pragma once\n")
        self.write("platform/posix/Thread.cpp", '#include "Thread.h"\n#include "platform/Platform.h"\n')
        self.write("platform/posix/Thread.h", "#pragma once\n")
        self.write("legacy/Exports.cpp", '#include "discovery/CapabilityQueryEntry.h"\n')
        self.write("driver/Exports.cpp", '#include "channels/ICameraChannel.h"\n#include "legacy/X.h"\n')
        # driver may not include legacy: that is the only finding.
        self.assertEqual(self.found(), [("src/driver/Exports.cpp", 2)])

    def test_every_upward_include_is_named_with_its_line(self):
        self.write("host/HostInterfaces.h", '#include <cstdint>\n#include "platform/Platform.h"\n')
        self.write("streaming/IMediaParserClient.h", '#pragma once\n\n#include "driver/HostInterfaces.h"\n')
        self.write("camera/CIOBase.h", '#include "streaming/CRTPPacket.h"\n')
        self.write("legacy/Exports.cpp", '#include "channels/CBaseCameraChannel.h"\n')
        self.write("ptz/CPTZItem.h", '#include "../driver/CDebugInfo.h"\n#include "Missing.h"\n')
        self.assertEqual(sorted(self.found()), [
            ("src/camera/CIOBase.h", 1), ("src/host/HostInterfaces.h", 2), ("src/legacy/Exports.cpp", 1),
            ("src/ptz/CPTZItem.h", 1), ("src/ptz/CPTZItem.h", 2), ("src/streaming/IMediaParserClient.h", 3)])

    def test_only_the_platform_seam_names_the_unwinder(self):
        self.write("platform/Guard.h", "#include <cxxabi.h>\nusing T = abi::__forced_unwind;\n")
        self.write("runtime/CBaseThread.cpp", '#include "platform/Guard.h"\n#include <cxxabi.h>\n')
        self.write("streaming/CUDPClient.cpp", "void f() {\n  try {\n  } catch (abi::__forced_unwind&) {\n  }\n}\n")
        self.assertEqual(self.found(), [("src/runtime/CBaseThread.cpp", 2), ("src/streaming/CUDPClient.cpp", 3)])

    def test_a_new_folder_must_be_given_its_place(self):
        self.write("codecs/CSps.cpp", "int x;\n")
        self.assertEqual(self.found(), [("src/codecs/CSps.cpp", 0)])

    def test_the_command_fails_only_on_a_violation(self):
        self.write("runtime/MD5.cpp", '#include "runtime/MD5.h"\n')
        self.assertEqual(check_includes.main(["check", str(self.root)]), 0)
        self.write("runtime/MD5.h", '#include "streaming/RTSPTypes.h"\n')
        self.assertEqual(check_includes.main(["check", str(self.root)]), 1)


if __name__ == "__main__":
    unittest.main()
