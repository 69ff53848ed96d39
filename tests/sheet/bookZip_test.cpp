// The zip generator layer: part names, states, the registry, the folder generator and the zip archive
// generator checked by independent readers (python3 zipfile, unzip -t).
#include "sheet/bookZip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sheet/bookZipArchive.h"
#include "tests/sheet/BookSaveTestUtil.h"

namespace fs = std::filesystem;

namespace {

class ZipGenTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTestDir("zipgen"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

void WritePart(TZxZipGen& gen, const std::string& name, const std::string& bytes) {
  TZxStream* s = gen.NewStream(name);
  s->Write(bytes);
  gen.SealStream(s);
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EZxZipGen& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST(ZipPartNames, NormalisationAndRefusals) {
  struct Case {
    const char* in;
    const char* out;  // null: refused with `error`
    const char* error;
  };
  const Case cases[] = {
      {"xl\\worksheets\\sheet1.xml", "xl/worksheets/sheet1.xml", nullptr},
      {"\\xl\\\\styles.xml", "xl/styles.xml", nullptr},
      {"//a///b", "a/b", nullptr},
      {"[Content_Types].xml", "[Content_Types].xml", nullptr},
      {"\\", nullptr, "Сжатие Zip: нельзя сохранить папку вместо файла:\\"},
      {"xl\\", nullptr, "Сжатие Zip: нельзя сохранить папку вместо файла:xl\\"},
      {"/", nullptr, "Сжатие Zip: нельзя сохранить безымянный файл"},
      {"", nullptr, "Сжатие Zip: нельзя сохранить безымянный файл"},
      {"../evil.xml", nullptr, "Сжатие Zip: недопустимое имя файла: ../evil.xml"},
      {"xl\\..\\..\\evil.xml", nullptr, "Сжатие Zip: недопустимое имя файла: xl/../../evil.xml"},
      {"a/./b", nullptr, "Сжатие Zip: недопустимое имя файла: a/./b"},
      {"a/..", nullptr, "Сжатие Zip: недопустимое имя файла: a/.."},
      {"a/..b/.c", "a/..b/.c", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    if (c.out != nullptr) {
      EXPECT_EQ(TZxZipGen::NormalizePartName(c.in), c.out);
    } else {
      EXPECT_EQ(ErrorOf([&] { TZxZipGen::NormalizePartName(c.in); }), c.error);
    }
  }
}

TEST_F(ZipGenTest, DuplicateNamesIgnoreCaseAndStateChecks) {
  auto gen = TZxZipArchive::Create(Path("a.zip"));
  TZxStream* s = gen->NewStream("xl\\styles.xml");
  const std::string dup = "Сжатие Zip: нельзя сохранить два файла с одинаковым именем\r\n\txl/styles.xml";
  EXPECT_EQ(ErrorOf([&] { gen->NewStream("/xl/styles.xml"); }), dup);
  EXPECT_EQ(ErrorOf([&] { gen->NewStream("XL/Styles.xml"); }), "Сжатие Zip: нельзя сохранить два файла с одинаковым именем\r\n\tXL/Styles.xml");
  EXPECT_EQ(ErrorOf([&] { gen->SaveAndSeal(); }), "Сжатие Zip: нельзя сохранить файл - есть неподтверждённые данные.");
  EXPECT_EQ(gen->State(), TZxZipGenState::zgsAccepting);
  gen->SealStream(s);
  EXPECT_EQ(ErrorOf([&] { gen->SealStream(s); }),
            "Сжатие Zip: переданны данные (TZxStream) не принадлежащие создаваемому файлу.");
  EXPECT_EQ(ErrorOf([&] { gen->SealStream(nullptr); }), "Сжатие Zip: переданны незаполненныe данные (NIL).");
  // Sealed names stay taken.
  EXPECT_EQ(ErrorOf([&] { gen->NewStream("xl/STYLES.xml"); }),
            "Сжатие Zip: нельзя сохранить два файла с одинаковым именем\r\n\txl/STYLES.xml");
  gen->SaveAndSeal();
  EXPECT_EQ(ErrorOf([&] { gen->SaveAndSeal(); }),
            "Сжатие Zip: текущий режим \"zgsSealed\", для продолжения работы требуется режим \"zgsAccepting\".");
  EXPECT_EQ(ErrorOf([&] { gen->NewStream("x"); }),
            "Сжатие Zip: текущий режим \"zgsSealed\", для продолжения работы требуется режим \"zgsAccepting\".");
  EXPECT_NO_THROW(TZxZipGen::Free(gen));
  EXPECT_TRUE(fs::exists(Path("a.zip")));
}

TEST_F(ZipGenTest, UnsealedDestructionReportsAndLeavesOldFileAndNoTemporary) {
  { std::ofstream(Path("old.zip")) << "old contents"; }
  auto gen = TZxZipArchive::Create(Path("old.zip"));
  TZxStream* s = gen->NewStream("part.xml");
  s->Write("half written");
  EXPECT_EQ(ErrorOf([&] { TZxZipGen::Free(gen); }),
            "Сжатие Zip: файл частично заполнен, нужно или сохранить, или отменить.");
  EXPECT_EQ(gen, nullptr);
  EXPECT_EQ(ReadFile(Path("old.zip")), "old contents");
  EXPECT_EQ(ListDir(dir_), std::vector<std::string>{"old.zip"});

  // Abandoning explicitly does the same without an error.
  auto gen2 = TZxZipArchive::Create(Path("old.zip"));
  WritePart(*gen2, "a.xml", "a");
  gen2->NewStream("b.xml");
  gen2->AbortAndDelete();
  EXPECT_EQ(gen2->State(), TZxZipGenState::zgsSealed);
  EXPECT_NO_THROW(TZxZipGen::Free(gen2));
  EXPECT_EQ(ReadFile(Path("old.zip")), "old contents");
  EXPECT_EQ(ListDir(dir_), std::vector<std::string>{"old.zip"});
}

TEST_F(ZipGenTest, TargetThatCannotBeReplaced) {
  fs::create_directory(Path("taken.zip"));
  EXPECT_EQ(ErrorOf([&] { TZxZipArchive::Create(Path("taken.zip")); }),
            "Невозможно удалить старый файл " + Path("taken.zip"));
  EXPECT_EQ(ErrorOf([&] { TZxZipArchive::Create(Path("no/such/dir/x.zip")); }).rfind("Сжатие Zip: невозможно создать файл", 0),
            0u);
}

TEST(ZipGenRegistry, OrderDefaultAndDummy) {
  ASSERT_EQ(TZxZipGen::QueryZipGen(0), &TZxZipArchive::Class);
  EXPECT_EQ(TZxZipGen::QueryZipGen(-1), nullptr);
  EXPECT_EQ(TZxZipGen::QueryZipGen(TZxZipGen::RegisteredCount()), nullptr);
  EXPECT_EQ(TZxZipGen::QueryDummyZipGen(), &TZxFolderInsteadOfZip::Class);

  TZxZipGen::Register(&TZxFolderInsteadOfZip::Class);
  TZxZipGen::Register(&TZxFolderInsteadOfZip::Class);
  EXPECT_EQ(TZxZipGen::RegisteredCount(), 3);
  EXPECT_EQ(TZxZipGen::QueryZipGen(0), &TZxFolderInsteadOfZip::Class);
  TZxZipGen::UnRegister(&TZxFolderInsteadOfZip::Class);
  EXPECT_EQ(TZxZipGen::RegisteredCount(), 2);
  TZxZipGen::UnRegister(&TZxFolderInsteadOfZip::Class);
  EXPECT_EQ(TZxZipGen::QueryZipGen(0), &TZxZipArchive::Class);

  TZxZipGen::UnRegister(&TZxZipArchive::Class);
  EXPECT_EQ(TZxZipGen::QueryZipGen(0), nullptr);
  EXPECT_EQ(TZxZipGen::QueryDummyZipGen(), &TZxFolderInsteadOfZip::Class);
  TZxZipGen::UnRegister(&TZxZipArchive::Class);  // absent: nothing happens
  TZxZipGen::Register(&TZxZipArchive::Class);
  EXPECT_EQ(TZxZipGen::QueryZipGen(0), &TZxZipArchive::Class);

  EXPECT_EQ(ErrorOf([] { TZxZipGen::Register(nullptr); }), "Сжатие Zip: нельзя создавaть Zip с помощью NIL");
}

TEST_F(ZipGenTest, FolderGeneratorWritesPlainFiles) {
  auto gen = TZxFolderInsteadOfZip::Create(Path("out"));
  WritePart(*gen, "xl\\worksheets\\sheet1.xml", "<a/>");
  WritePart(*gen, "[Content_Types].xml", "<b/>");
  gen->SaveAndSeal();
  TZxZipGen::Free(gen);
  EXPECT_EQ(ReadFile(Path("out/xl/worksheets/sheet1.xml")), "<a/>");
  EXPECT_EQ(ReadFile(Path("out/[Content_Types].xml")), "<b/>");

  // Abandoning removes the parts it wrote, sealed or not, and the folder when nothing else is in it.
  auto gen2 = TZxFolderInsteadOfZip::Create(Path("out2"));
  WritePart(*gen2, "xl\\worksheets\\sheet1.xml", "<a/>");
  gen2->NewStream("a.xml")->Write("x");
  EXPECT_TRUE(fs::exists(Path("out2/a.xml")));
  gen2->AbortAndDelete();
  EXPECT_FALSE(fs::exists(Path("out2")));
  TZxZipGen::Free(gen2);

  // Something of another owner in the folder stays, and the folder with it: the abandon reports that.
  auto gen3 = TZxFolderInsteadOfZip::Create(Path("out3"));
  WriteFile(Path("out3/keep.txt"), "keep");
  WritePart(*gen3, "xl\\styles.xml", "<b/>");
  EXPECT_EQ(ErrorOf([&] { gen3->AbortAndDelete(); }).rfind("Сжатие Zip: невозможно удалить папку " + Path("out3"), 0), 0u);
  EXPECT_EQ(gen3->State(), TZxZipGenState::zgsSealed);
  EXPECT_EQ(ListDir(Path("out3")), std::vector<std::string>{"keep.txt"});
  TZxZipGen::Free(gen3);
}

TEST_F(ZipGenTest, ArchiveReadByIndependentReaders) {
  const std::string zip = Path("parts.zip");
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "<row r=\"" + std::to_string(i) + "\">Ключ &amp; значение</row>\r\n";
  auto gen = TZxZipArchive::Create(zip);
  // Two parts open at once: entries follow the order of sealing.
  TZxStream* first = gen->NewStream("xl\\worksheets\\sheet1.xml");
  TZxStream* second = gen->NewStream("docProps/app.xml");
  for (std::size_t at = 0; at < big.size(); at += 777) first->Write(big.substr(at, 777));
  second->Write("<Properties/>");
  gen->SealStream(second);
  gen->SealStream(first);
  WritePart(*gen, "empty.xml", "");
  WritePart(*gen, "Папка/файл.xml", "utf-8 name");
  gen->SaveAndSeal();
  TZxZipGen::Free(gen);

  ASSERT_TRUE(HaveProgram("unzip")) << "unzip missing (scripts/install-deps.sh installs it)";
  EXPECT_EQ(RunCommand("unzip -tq '" + zip + "' >/dev/null 2>&1"), 0);
  ASSERT_TRUE(HavePython()) << "python3 missing (scripts/install-deps.sh installs it)";
  const std::string script =
      "import zipfile,sys\n"
      "z=zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n"
      "for i in z.infolist():\n"
      "  assert i.compress_type==zipfile.ZIP_DEFLATED, i.filename\n"
      "  assert i.flag_bits & 0x800\n"
      "  print(i.filename, i.file_size)\n"
      "print(z.read('xl/worksheets/sheet1.xml').decode('utf-8')==open(sys.argv[2],encoding='utf-8',newline='').read())\n";
  { std::ofstream(Path("big.txt"), std::ios::binary) << big; }
  const std::string out = RunPython(script, {zip, Path("big.txt")});
  EXPECT_EQ(out, "docProps/app.xml 13\nxl/worksheets/sheet1.xml " + std::to_string(big.size()) +
                     "\nempty.xml 0\nПапка/файл.xml 10\nTrue\n");
}

TEST_F(ZipGenTest, IdenticalInputGivesIdenticalBytes) {
  auto write = [&](const std::string& name) {
    auto gen = TZxZipArchive::Create(Path(name));
    WritePart(*gen, "a.xml", std::string(5000, 'a') + "b");
    WritePart(*gen, "b/c.xml", "ccc");
    gen->SaveAndSeal();
    TZxZipGen::Free(gen);
    return ReadFile(Path(name));
  };
  const std::string one = write("1.zip");
  EXPECT_EQ(one, write("2.zip"));
  EXPECT_EQ(one.substr(0, 4), std::string("PK\3\4"));
}

TEST_F(ZipGenTest, LimitsRaiseInsteadOfWritingADamagedArchive) {
  {
    auto gen = TZxZipArchive::Create(Path("many.zip"));
    static_cast<TZxZipArchive&>(*gen).SetLimitsForTesting(2, 0xFFFFFFFFull);
    WritePart(*gen, "1", "");
    WritePart(*gen, "2", "");
    EXPECT_EQ(ErrorOf([&] { gen->NewStream("3"); }), "Сжатие Zip: архив слишком велик (больше 65535 файлов или 4 ГиБ).");
    gen->AbortAndDelete();
    TZxZipGen::Free(gen);
  }
  {
    auto gen = TZxZipArchive::Create(Path("big.zip"));
    static_cast<TZxZipArchive&>(*gen).SetLimitsForTesting(65535, 100);
    WritePart(*gen, "small", "x");
    TZxStream* s = gen->NewStream("large");
    s->Write(std::string(200, 'q'));
    EXPECT_EQ(ErrorOf([&] { gen->SealStream(s); }), "Сжатие Zip: архив слишком велик (больше 65535 файлов или 4 ГиБ).");
    gen->AbortAndDelete();
    TZxZipGen::Free(gen);
  }
  EXPECT_TRUE(ListDir(dir_).empty());
}

TEST_F(ZipGenTest, LongTargetNameStillGetsATemporaryFile) {
  const std::string name(250, 'n');
  auto gen = TZxZipArchive::Create(Path(name + ".zip").substr(0, Path("").size() + 250));
  WritePart(*gen, "a.xml", "a");
  gen->SaveAndSeal();
  TZxZipGen::Free(gen);
  EXPECT_EQ(ListDir(dir_), std::vector<std::string>{name});
}
