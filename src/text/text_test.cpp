// The console texts decode from EUC-KR to exactly the Korean they stand for.
#include "text/text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iconv.h>
#include <string>

namespace {

std::string fromEucKr(std::string_view bytes) {
    iconv_t convert = iconv_open("UTF-8", "EUC-KR");
    EXPECT_NE(convert, reinterpret_cast<iconv_t>(-1));
    std::string in(bytes);
    std::string out(bytes.size() * 4, '\0');
    char* inp = in.data();
    char* outp = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    std::size_t done = iconv(convert, &inp, &inLeft, &outp, &outLeft);
    iconv_close(convert);
    EXPECT_NE(done, static_cast<std::size_t>(-1)) << "not EUC-KR, errno " << errno;
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

TEST(ConsoleText, EveryTextIsTheKoreanItStandsFor) {
    struct Case {
        std::string_view bytes;
        const char* utf8;
        std::size_t length;
    } cases[] = {
        {idleText, "정산시간이 아닙니다.", 20},
        {openFailed, "화일 열기 실패!", 15},
        {openFailedRequest, "화일 열기 실패!1", 16},
        {openFailedRecords, "화일 열기 실패!2", 16},
        {openFailedCount, "화일 열기 실패!3", 16},
        {settledText, "정산이 완료되었습니다.", 22},
        {totalLabel, "전체정산 금액 : ", 16},
        {busLabel, "BUS정산 금액 : ", 15},
        {metroLabel, "METRO정산 금액 : ", 17},
        {unopenedFileLabel, "정산하지 않았습니다. 열 수 없는 파일: ", 38},
        {settledChangedText, "Accumulated.txt가 바뀌어 정산한 기록을 지우지 않았습니다.", 57},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fromEucKr(c.bytes), c.utf8);
        EXPECT_EQ(c.bytes.size(), c.length) << c.utf8;
    }
}
