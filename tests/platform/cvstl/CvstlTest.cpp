#include "cvstl.h"

#include <QtTest>

#include <string>

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(std::wstring)

class CvstlTest : public QObject
{
    Q_OBJECT

private slots:
    void decode_data()
    {
        QTest::addColumn<std::string>("utf8");
        QTest::addColumn<std::wstring>("wide");
        const wchar_t R = 0xFFFD;
        QTest::newRow("empty") << std::string() << std::wstring();
        QTest::newRow("ascii") << std::string("/x {ABC}") << std::wstring(L"/x {ABC}");
        QTest::newRow("embedded nul") << std::string("a\0b", 3) << std::wstring(L"a\0b", 3);
        QTest::newRow("two bytes") << std::string("\xC3\xA4") << std::wstring(1, 0xE4);
        QTest::newRow("three bytes") << std::string("\xE2\x82\xAC") << std::wstring(1, 0x20AC);
        QTest::newRow("four bytes") << std::string("\xF0\x9F\x98\x80") << std::wstring(1, 0x1F600);
        QTest::newRow("highest") << std::string("\xF4\x8F\xBF\xBF") << std::wstring(1, 0x10FFFF);
        QTest::newRow("lone continuation") << std::string("a\x80z") << std::wstring{L'a', R, L'z'};
        QTest::newRow("overlong two bytes") << std::string("\xC0\xAF") << std::wstring{R, R};
        QTest::newRow("overlong three bytes") << std::string("\xE0\x80\xAF") << std::wstring{R, R, R};
        QTest::newRow("overlong four bytes") << std::string("\xF0\x80\x80\xAF") << std::wstring{R, R, R, R};
        QTest::newRow("surrogate") << std::string("\xED\xA0\x80") << std::wstring{R, R, R};
        QTest::newRow("above U+10FFFF") << std::string("\xF4\x90\x80\x80") << std::wstring{R, R, R, R};
        QTest::newRow("F5 lead") << std::string("\xF5\x80") << std::wstring{R, R};
        QTest::newRow("FF byte") << std::string("\xFF") << std::wstring{R};
        // A truncated sequence is one maximal subpart: one replacement, then the next character.
        QTest::newRow("truncated three") << std::string("\xE2\x82z") << std::wstring{R, L'z'};
        QTest::newRow("truncated four") << std::string("\xF0\x9F\x98") << std::wstring{R};
        QTest::newRow("truncated at end") << std::string("ab\xC3") << std::wstring{L'a', L'b', R};
        QTest::newRow("lead then lead") << std::string("\xC3\xC3\xA4") << std::wstring{R, 0xE4};
        QTest::newRow("unicode sample")
            << std::string("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64")
            << std::wstring{L'a', R, R, R, L'b', R, L'c', R, R, L'd'};
    }

    void decode()
    {
        QFETCH(std::string, utf8);
        QFETCH(std::wstring, wide);
        const std::wstring got = cv::string_utf8_to_wstring(utf8);
        QCOMPARE(QString::fromStdWString(got), QString::fromStdWString(wide));
        QCOMPARE(got.size(), wide.size());
        QCOMPARE(cv::is_valid_utf8(utf8.data(), utf8.size()),
                 wide.find(wchar_t(0xFFFD)) == std::wstring::npos);
    }

    void encode()
    {
        QCOMPARE(cv::wstring_to_string_utf8(std::wstring()), std::string());
        QCOMPARE(cv::wstring_to_string_utf8(L"C:\\msiexec.exe /x"), std::string("C:\\msiexec.exe /x"));
        QCOMPARE(cv::wstring_to_string_utf8(std::wstring{0xE4, 0x20AC, 0x1F600, 0x10FFFF}),
                 std::string("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"));
        // Values that no UTF-8 text can carry become U+FFFD instead of ill-formed bytes.
        QCOMPARE(cv::wstring_to_string_utf8(std::wstring{0xD800, L'x', 0x110000, static_cast<wchar_t>(-1)}),
                 std::string("\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD"));
    }

    void roundTripOfEveryScalarValue()
    {
        std::wstring all;
        for (wchar_t c = 1; c <= 0x10FFFF; ++c) {
            if (c < 0xD800 || c > 0xDFFF) {
                all.push_back(c);
            }
        }
        QVERIFY(cv::string_utf8_to_wstring(cv::wstring_to_string_utf8(all)) == all);
    }

    void everyTwoByteInputIsHandled()
    {
        // Each decoded piece re-encodes to valid UTF-8 that decodes to the same piece.
        for (int a = 0; a < 256; ++a) {
            for (int b = 0; b < 256; ++b) {
                const std::string input{static_cast<char>(a), static_cast<char>(b)};
                const std::wstring wide = cv::string_utf8_to_wstring(input);
                QVERIFY(wide.size() >= 1 && wide.size() <= 2);
                QVERIFY(cv::string_utf8_to_wstring(cv::wstring_to_string_utf8(wide)) == wide);
            }
        }
    }
};

QTEST_GUILESS_MAIN(CvstlTest)
#include "CvstlTest.moc"
