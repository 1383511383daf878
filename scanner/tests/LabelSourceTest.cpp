// Where labels come from: lines from a FIFO or a serial barcode reader,
// and barcodes in image files dropped into a folder; and what the scanner
// does with input that is not a label, or a source that goes away.
#include <pty.h>
#include <termios.h>

#include "ScannerTesting.h"

namespace tbm::scan::testing {
namespace {

TEST_F(ScannerTest, LabelsFromAFifoArriveAsTheReaderSentThem) {
  const fs::path fifo = SetUpFifoScanner();
  ASSERT_EQ(Exports().init(), 1u);
  FifoWriter reader(fifo);
  ASSERT_TRUE(reader.ok());
  // CR, LF and CR LF all end a label; empty lines are no labels; a label may
  // be sent in pieces, and may carry TAB and the GS1 group separator.
  ASSERT_TRUE(reader.Write("036000291452\r\n\n\rCafé-Crème 250 g\n(01)09501101530003\x1d"));
  ASSERT_TRUE(reader.Write("(10)AB12\rA\tB\n"));
  const std::vector<std::string> expected = {"036000291452", "Café-Crème 250 g",
                                             "(01)09501101530003\x1d(10)AB12", "A\tB"};
  for (const std::string& label : expected) {
    ASSERT_EQ(RequestRead(), 1u);
    EXPECT_EQ(NextLabel(), label);
  }
}

TEST_F(ScannerTest, LinesThatAreNotLabelsAreDroppedAndTheNextLabelArrives) {
  const fs::path fifo = SetUpFifoScanner();
  ASSERT_EQ(Exports().init(), 1u);
  FifoWriter reader(fifo);
  ASSERT_TRUE(reader.ok());
  ASSERT_EQ(RequestRead(), 1u);
  // 10,000 characters without an end of line, ended at last by the next
  // label's: longer than any label.
  ASSERT_TRUE(reader.Write(std::string(10000, '7')));
  ASSERT_TRUE(reader.Write("\n"));
  // Bytes that are not text: not UTF-8, a NUL, other control characters.
  ASSERT_TRUE(reader.Write(std::string("\xff\xfe\x80garbage\n", 11)));
  ASSERT_TRUE(reader.Write(std::string("AB\0CD\n", 6)));
  ASSERT_TRUE(reader.Write("\x1b[2J\x07\n"));
  // Far more than a line may hold before its end comes.
  ASSERT_TRUE(reader.Write(std::string(60000, 'Z')));
  ASSERT_TRUE(reader.Write("\r\nGOOD-1\r\n"));

  EXPECT_EQ(NextLabel(), "GOOD-1");
  const std::string log = ScannerLogText();
  EXPECT_NE(log.find("a line of 10000 characters"), std::string::npos) << log;
  EXPECT_NE(log.find("not UTF-8 text"), std::string::npos) << log;
  EXPECT_NE(log.find("control characters"), std::string::npos) << log;
  EXPECT_NE(log.find("without an end of line"), std::string::npos) << log;
}

TEST_F(ScannerTest, AFifoThatIsRemovedAndMadeAgainIsReadAgain) {
  const fs::path fifo = SetUpFifoScanner();
  ASSERT_EQ(Exports().init(), 1u);
  {
    FifoWriter reader(fifo);
    ASSERT_TRUE(reader.Write("BEFORE\n"));
    ASSERT_EQ(RequestRead(), 1u);
    ASSERT_EQ(NextLabel(), "BEFORE");
    // Half a label, then the FIFO goes: the half is not taken for a label.
    ASSERT_TRUE(reader.Write("HALF-"));
  }
  ASSERT_TRUE(fs::remove(fifo));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  FifoWriter again(fifo);
  ASSERT_TRUE(again.ok()) << "the scanner did not open the new FIFO";
  ASSERT_TRUE(again.Write("AFTER\n"));
  ASSERT_EQ(RequestRead(), 1u);
  EXPECT_EQ(NextLabel(), "AFTER");
  EXPECT_NE(ScannerLogText().find("went away"), std::string::npos) << ScannerLogText();
}

TEST_F(ScannerTest, BarcodeImagesDroppedInTheFolderAreRead) {
  const fs::path folder = root_ / "My Documents" / "Scans";
  fs::create_directories(folder);
  SetUpScanner(u"", u"\\My Documents\\Scans");
  ASSERT_EQ(Exports().init(), 1u);

  struct Sample {
    const char* file;
    ZXing::BarcodeFormat format;
    std::string text;
  };
  const Sample samples[] = {
      {"ean13.png", ZXing::BarcodeFormat::EAN13, "4006381333931"},
      {"upca.png", ZXing::BarcodeFormat::UPCA, "036000291452"},
      {"code128.png", ZXing::BarcodeFormat::Code128, "Order 2024/117-B"},
      {"code39.jpg", ZXing::BarcodeFormat::Code39, "PART-0042"},
      {"qr.png", ZXing::BarcodeFormat::QRCode, "https://example.org/item?id=81&lot=Ä7"},
  };
  for (const Sample& sample : samples) {
    ASSERT_TRUE(DropBarcodeImage(folder, sample.file, sample.format, sample.text));
    ASSERT_EQ(RequestRead(), 1u);
    EXPECT_EQ(NextLabel(), sample.text) << sample.file;
    EXPECT_TRUE(fs::exists(folder / "Scanned" / sample.file)) << sample.file;
    EXPECT_FALSE(fs::exists(folder / sample.file)) << sample.file;
  }
  // The same name again does not overwrite the one kept.
  ASSERT_TRUE(DropBarcodeImage(folder, "qr.png", ZXing::BarcodeFormat::QRCode, "again"));
  ASSERT_EQ(RequestRead(), 1u);
  EXPECT_EQ(NextLabel(), "again");
  EXPECT_TRUE(fs::exists(folder / "Scanned" / "qr (2).png"));
}

TEST_F(ScannerTest, ImagesWithoutABarcodeAreSetAsideAndTheNextIsRead) {
  const fs::path folder = root_ / "Temp" / "images";
  fs::create_directories(folder);
  SetUpScanner(u"", u"\\Temp\\images");
  ASSERT_EQ(Exports().init(), 1u);

  QImage blank(320, 200, QImage::Format_Grayscale8);
  blank.fill(255);
  ASSERT_TRUE(blank.save(QString::fromStdString((folder / "blank.png").string()), "PNG"));
  ASSERT_TRUE(tbm::testing::WriteWholeFile(folder / "notes.png", "shopping: milk, bread\n"));
  ASSERT_TRUE(tbm::testing::WriteWholeFile(folder / "broken.png",
                                           std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)));
  ASSERT_EQ(RequestRead(), 1u);
  // Dropped after the others, so it is read last.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(DropBarcodeImage(folder, "good.png", ZXing::BarcodeFormat::Code128, "AFTER-BAD"));
  EXPECT_EQ(NextLabel(), "AFTER-BAD");
  for (const char* bad : {"blank.png", "notes.png", "broken.png"}) {
    EXPECT_TRUE(fs::exists(folder / "Unreadable" / bad)) << bad;
  }
  EXPECT_NE(ScannerLogText().find("holds no barcode"), std::string::npos) << ScannerLogText();
}

TEST_F(ScannerTest, ASerialReaderThatIsUnpluggedLeavesTheImagesReadable) {
  int controller = -1;
  int device = -1;
  char name[128] = {};
  ASSERT_EQ(::openpty(&controller, &device, name, nullptr, nullptr), 0);
  ::close(device);  // the scanner opens the device side by its name
  const fs::path folder = root_ / "Temp" / "images";
  fs::create_directories(folder);
  SetUpScanner(Utf8ToUtf16(name), u"\\Temp\\images", 115200);
  ASSERT_EQ(Exports().init(), 1u);

  ASSERT_EQ(RequestRead(), 1u);
  // The reader's port has been set up raw: the label comes through whole.
  const std::string label = "SERIAL-0815\r";
  ASSERT_EQ(::write(controller, label.data(), label.size()), static_cast<ssize_t>(label.size()));
  EXPECT_EQ(NextLabel(), "SERIAL-0815");

  ::close(controller);  // unplugged
  ASSERT_EQ(RequestRead(), 1u);
  ASSERT_TRUE(DropBarcodeImage(folder, "after.png", ZXing::BarcodeFormat::EAN13, "4006381333931"));
  EXPECT_EQ(NextLabel(), "4006381333931");
}

}  // namespace
}  // namespace tbm::scan::testing
