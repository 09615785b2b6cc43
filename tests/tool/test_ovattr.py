"""ovattr against files the module writes: a table of command lines and what they print."""
import os, re, shutil, subprocess, sys, tempfile, unittest
import PyOvAttribute as ov

TOOL = os.environ["OVATTR_TOOL"]
PY3 = sys.version_info[0] >= 3


def raw(data):
    """The bytes of a file's text (3: each byte of the tool's output as one character)."""
    return data.encode("utf-8", "surrogateescape") if PY3 and isinstance(data, str) else data


def value():
    nan = ov.FloatAttribute({0: [0.0], 0.5: [-0.0]}).getXML().replace("-0<", "nan:0x7fa00001<")
    return (ov.GroupBuilder(ov.GroupBuilderModeStrict)
            .set("ints", ov.IntAttribute(range(100), 4))
            .set("points", ov.FloatAttribute({0: [0, 1.5, -2], 0.5: [1e20, float("inf"), -0.0]}, 3))
            .set("we/ird", ov.StringAttribute([b"caf\xc3\xa9\n", b"\xff\"", b"x" * 80]))
            .set("nan", ov.Attribute.parseXML(nan)).set("none", ov.NullAttribute()).build())


def changed():
    b = ov.GroupBuilder(ov.GroupBuilderModeStrict).update(value()).delete("none")
    return (b.set("ints", ov.IntAttribute(list(range(50)) + [7] + list(range(51, 100)), 4))
            .set("points", ov.FloatAttribute({0.0: [0, 1.5, -2], 0.75: [1, 2, 3]}, 3))
            .set("we/ird", ov.DoubleAttribute(1.0)).set("new", ov.IntAttribute(1)).build())


DEEP = "".join('<attr %s type="group" inherit="true" children="1">' %
               ('version="1"' if i == 0 else 'name="n%d"' % i) for i in range(10000)) + \
    '<attr name="leaf" type="int" tupleSize="1" values="1" samples="1"><sample time="0">7' \
    '</sample></attr>' + "</attr>" * 10000

DIFF = """/ints: sample 0 (t=0), value 50 (tuple 12): 50 -> 7
/points: sample times (0 0.5) -> (0 0.75)
/points: sample 1 (t=0.5), value 0 (tuple 0): 1e+20 -> 1
/we%2Fird: kind string -> double
/none: removed (null)
/new: added (int)
"""
ERR = r"\Aovattr: %s\n\Z"
CASES = [  # arguments, standard input (a file name), exit status, stdout and stderr patterns
    (["hash", "g.xml", "g.ovab", "-"], "g.xml", 0, r"\A({h})  g\.xml\n\1  g\.ovab\n\1  -\n\Z",
     r"\A\Z"),
    (["cat", "g.ovab"], None, 0, r"^/ints  int, tuple size 4, 1 sample of 100 values\n"
     r"  t=0: \(0 1 2 3\) \(4 5 6 7\) \(8 9 10 11\) \.\.\. \(88 more values\)$", r"\A\Z"),
    (["cat", "-"], "g.xml", 0, r'^/we%2Fird  string, .*\n  t=0: "caf\xc3\xa9\\n" "\\xFF\\"" "x{64}'
     r'"\.\.\. \(16 more bytes\)$', ""),
    (["cat", "g.xml"], None, 0, r"^  t=0\.5: \(1e\+20 inf -0\)$(.|\n)*^  t=0\.5: nan:0x7fa00001$",
     ""),
    (["cat", "--full", "g.xml"], None, 0, r'\(96 97 98 99\)\n(.|\n)*"x{80}"', ""),
    (["diff", "g.xml", "g.ovab"], None, 0, r"\A\Z", r"\A\Z"),
    (["diff", "g.ovab", "h.xml"], None, 1, r"\A%s\Z" % re.escape(DIFF), r"\A\Z"),
    (["diff", "-n", "1", "g.ovab", "h.xml"], None, 1, r"\n\.\.\. \(stopped after 1 difference", ""),
    (["stats", "g.ovab"], None, 0, r"^int +1 +1 +100 .*\n(.|\n)*^total +6 +6 +111 .*\n5 children,",
     ""),
    (["cat", "deep.ovab"], None, 0,
     r"^/n1(/n\d+){7}/\.\.\.\(9984 more levels\)\.\.\.(/n\d+){7}/leaf  int", ""),
    (["diff", "deep.xml", "deep2.ovab"], None, 1, r"/leaf: value: 7 -> 8\n\Z", ""),
    (["stats", "deep.xml"], None, 0, r"groups nested 10000 deep\n\Z", ""),
    (["cat", "cut.ovab"], None, 2, r"\A/  group, 5 children\n\Z",  # printed up to the fault
     ERR % r"cut\.ovab: invalid attribute binary: .+ at byte \d+"),
    (["hash", "bad.xml"], None, 2, "", ERR % r'bad\.xml: invalid attribute XML: bad tupleSize "x" '
     r"\(element at byte \d+\)"),
    (["stats", "short"], None, 2, "",
     ERR % "short: invalid attribute binary: shorter than the 8-byte header at byte 0"),
    (["diff", "g.xml", "empty"], None, 2, "", ERR % "empty: invalid attribute XML: empty text"),
    (["cat", "nothing-here"], None, 2, "", ERR % "nothing-here: No such file or directory"),
    (["convert", "g.xml", "o.ovab"], None, 0, r"\A\Z", r"\A\Z"),  # the form from OUT's name
    (["convert", "o.ovab", "o.XML"], None, 0, r"\A\Z", r"\A\Z"),
    (["stats", "o.XML"], None, 0, r"\Ao\.XML: xml, %d bytes" % len(raw(value().getXML())), ""),
    (["convert", "o.XML", "-", "--to", "binary"], None, 0, "=g.ovab", r"\A\Z"),
    (["convert", "-", "-"], "g.ovab", 0, "=g.xml", r"\A\Z"),  # "-": the other form
]


class OvattrTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        g, h, deep = value(), changed(), ov.Attribute.parseXML(DEEP)
        cls.files = {"g.xml": g.getXML(), "g.ovab": g.getBinary(), "h.xml": h.getXML(),
                     "deep.xml": DEEP, "deep.ovab": deep.getBinary(), "empty": "", "short": "OV",
                     "deep2.ovab": ov.Attribute.parseXML(DEEP.replace(">7<", ">8<")).getBinary(),
                     "cut.ovab": g.getBinary()[:300],
                     "bad.xml": g.getXML().replace('tupleSize="4"', 'tupleSize="x"')}
        for name, data in cls.files.items():
            with open(os.path.join(cls.dir, name), "wb") as f:
                f.write(raw(data))
        cls.hash = g.getHash()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def run_tool(self, args, stdin=None):
        p = subprocess.Popen([TOOL] + args, cwd=self.dir, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = p.communicate(raw(stdin))
        if PY3:
            out, err = out.decode("latin-1"), err.decode("latin-1")
        return p.returncode, out, err

    def test_cases(self):
        for args, stdin, status, out, err in CASES:
            got = self.run_tool(args, self.files[stdin] if stdin else None)
            self.assertEqual(got[0], status, (args, got))
            if out.startswith("="):  # the bytes of that file
                self.assertEqual(raw(got[1]) if not PY3 else got[1].encode("latin-1"),
                                 raw(self.files[out[1:]]), args)
            else:
                self.assertTrue(re.search(re.compile(out.replace("{h}", self.hash), re.M),
                                          got[1]), (args, got[1]))
            self.assertTrue(re.search(err, got[2]), (args, got[2]))

    def test_every_cut_of_a_file_is_one_line_and_status_2(self):
        for name in ["g.ovab", "g.xml"]:
            data = self.files[name]
            for n in range(0, len(data) - 8, 5):  # the XML's last 8 bytes are "</attr>\n"
                status, out, err = self.run_tool(["hash", "-"], data[:n])
                self.assertEqual((status, out, err.count("\n")), (2, "", 1), (name, n, err))


if __name__ == "__main__":
    unittest.main()
