#!/usr/bin/env python3
"""The slot check passes a header that both layouts agree with and names every line that goes wrong."""
import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import check_slots  # noqa: E402

# Slot 0 as the host boundary declares it: one scalar-deleting entry where the Itanium ABI meets Windows.
SLOT0 = """#include <cstdint>
#if defined(_WIN32) && !defined(_MSC_VER)
#define SLOT0(C) virtual void* ScalarDeletingDestructor(unsigned int flags) = 0; protected: ~C() = default; public:
#else
#define SLOT0(C) virtual ~C() = default;
#endif
"""

GOOD = SLOT0 + """namespace ns {
struct Record { int32_t a, b; };
class Sink {
 public:
  SLOT0(Sink)  // slot 0
  virtual void Reserved1() = 0;                 // slot 1
  virtual bool Take(const Record* record) = 0;  // slot 2
};
class SinkEx : public Sink {
 public:
  virtual uint16_t Width(uint32_t index,  // slot 3
                         uint8_t flags) = 0;
};
}  // namespace ns
"""


class SlotCheck(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.header = pathlib.Path(self._dir.name) / "Boundary.h"

    def tearDown(self):
        self._dir.cleanup()

    def found(self, text):
        self.header.write_text(text)
        return check_slots.problems(self.header)

    def lines(self, text):
        return sorted({line for line, _ in self.found(text)})

    def test_slots_that_hold_in_both_layouts_pass(self):
        self.assertEqual(self.found(GOOD), [])

    def test_a_plain_virtual_destructor_moves_every_later_slot_under_mingw(self):
        found = self.found(GOOD.replace("SLOT0(Sink)", "virtual ~Sink() = default;"))
        self.assertTrue(all(text.startswith("mingw:") for _, text in found), found)
        # The destructor of both classes (named at the class), Sink's two later slots and SinkEx's slot.
        self.assertEqual(sorted({line for line, _ in found}), [9, 12, 13, 15, 17])

    def test_a_wrong_comment_is_named_with_its_line_in_both_layouts(self):
        found = self.found(GOOD.replace("// slot 2", "// slot 3"))
        self.assertEqual([(line, text.split(":")[0]) for line, text in found], [(13, "mingw"), (13, "msvc")])

    def test_calls_the_two_compilers_would_pass_differently_fail(self):
        text = GOOD.replace("virtual void Reserved1() = 0;", "virtual Record Reserved1() = 0;  ")
        text = text.replace("(const Record* record)", "(Record record)")
        text = text.replace("uint8_t flags) = 0;", "long flags) = 0;\n  virtual void Width(int32_t) = 0;  // slot 4")
        found = self.found(text)
        for problem in [(12, "ns::Sink::Reserved1 returns ns::Record by value"),
                        (13, "ns::Sink::Take takes ns::Record by value"),
                        (15, "ns::SinkEx: virtual function Width is overloaded"),
                        (17, "ns::SinkEx::Width passes a long")]:
            self.assertIn(problem, found)

    def test_the_command_fails_only_on_a_problem(self):
        self.header.write_text(GOOD)
        self.assertEqual(check_slots.main(["check", str(self.header)]), 0)
        self.header.write_text(GOOD.replace("// slot 1", "// slot 2"))
        self.assertEqual(check_slots.main(["check", str(self.header)]), 1)


if __name__ == "__main__":
    unittest.main()
