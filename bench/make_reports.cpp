// Makes a report database like a busy department's after years of use: realistic Chinese names
// (surnames by their frequency in China), screening numbers by year, ages, findings texts as the
// staff write them, the classification text, grades, options, twenty physicians, and examination
// dates from 2005 to 2024 entered roughly in date order, a few days late at times.
//
//   make_reports <Data.Dat> <reports> [seed]
//
// The file is made from data/schema.sql, as setup makes it; an existing file is refused.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Weighted
{
    const char* text;
    double weight;
};

// The most common surnames with their share of the population in per cent; the rest share "其他".
constexpr Weighted kSurnames[] = {
    {"王", 7.1}, {"李", 7.0}, {"张", 6.7},    {"刘", 5.4},    {"陈", 4.5},   {"杨", 3.1}, {"黄", 2.6},
    {"赵", 2.3}, {"吴", 2.0}, {"周", 1.9},    {"徐", 1.7},    {"孙", 1.5},   {"马", 1.4}, {"朱", 1.3},
    {"胡", 1.3}, {"郭", 1.2}, {"何", 1.2},    {"高", 1.1},    {"林", 1.1},   {"罗", 1.0}, {"郑", 1.0},
    {"梁", 0.9}, {"谢", 0.8}, {"宋", 0.8},    {"唐", 0.8},    {"许", 0.7},   {"韩", 0.7}, {"冯", 0.7},
    {"邓", 0.7}, {"曹", 0.6}, {"彭", 0.6},    {"曾", 0.6},    {"肖", 0.6},   {"田", 0.6}, {"董", 0.5},
    {"袁", 0.5}, {"潘", 0.5}, {"于", 0.5},    {"蒋", 0.5},    {"蔡", 0.5},   {"余", 0.5}, {"杜", 0.5},
    {"叶", 0.4}, {"程", 0.4}, {"苏", 0.4},    {"魏", 0.4},    {"吕", 0.4},   {"丁", 0.4}, {"任", 0.4},
    {"沈", 0.4}, {"姚", 0.4}, {"卢", 0.4},    {"姜", 0.3},    {"崔", 0.3},   {"钟", 0.3}, {"谭", 0.3},
    {"陆", 0.3}, {"汪", 0.3}, {"范", 0.3},    {"金", 0.3},    {"石", 0.3},   {"廖", 0.3}, {"贾", 0.3},
    {"夏", 0.3}, {"韦", 0.3}, {"付", 0.3},    {"方", 0.3},    {"白", 0.2},   {"邹", 0.2}, {"孟", 0.2},
    {"熊", 0.2}, {"秦", 0.2}, {"邱", 0.2},    {"江", 0.2},    {"尹", 0.2},   {"薛", 0.2}, {"闫", 0.2},
    {"段", 0.2}, {"雷", 0.2}, {"侯", 0.2},    {"龙", 0.2},    {"史", 0.2},   {"陶", 0.2}, {"黎", 0.2},
    {"贺", 0.2}, {"顾", 0.2}, {"毛", 0.2},    {"郝", 0.2},    {"龚", 0.2},   {"邵", 0.2}, {"万", 0.2},
    {"钱", 0.2}, {"严", 0.2}, {"覃", 0.1},    {"武", 0.2},    {"戴", 0.2},   {"莫", 0.1}, {"孔", 0.1},
    {"向", 0.1}, {"汤", 0.1}, {"欧阳", 0.05}, {"司马", 0.01}, {"上官", 0.01}};

// Characters of women's given names, the commonest first.
constexpr const char* kGiven[] = {
    "秀", "英", "华", "玲", "芳", "丽", "娟", "敏", "静", "燕", "红", "梅", "霞", "艳", "萍", "琴", "兰",
    "凤", "云", "洁", "婷", "雪", "慧", "倩", "颖", "琳", "晶", "欣", "悦", "佳", "雅", "楠", "春", "桂",
    "淑", "珍", "莉", "娜", "琼", "翠", "菊", "荣", "素", "月", "琪", "瑶", "妍", "晓", "小", "文", "明",
    "新", "亚", "金", "玉", "美", "爱", "宁", "平", "海", "蓉", "莹", "丹", "薇", "蕾", "璐", "露", "思",
    "梦", "嘉", "怡", "馨", "彤", "诗", "雯", "琦", "娇", "凌", "惠", "香", "珊", "艺", "秋", "冬"};

constexpr const char* kPhysicians[] = {"王建国", "李明",   "张丽华", "刘伟",   "陈静",   "杨帆", "赵敏",
                                       "黄海燕", "周晓东", "吴秀兰", "徐立新", "孙红梅", "马俊", "朱丹",
                                       "胡波",   "郭晶",   "何平",   "林雪",   "罗建华", "郑玉"};

constexpr const char* kClinical[] = {"双乳对称，未触及明显肿块，双腋下未触及肿大淋巴结",
                                     "双乳腺体增厚，呈颗粒状，轻压痛",
                                     "右乳外上象限可触及一大小约2×2cm肿块，质韧，边界清，活动度可",
                                     "左乳内上象限可触及片状增厚区，质软，无压痛",
                                     "双乳皮肤无红肿，乳头无内陷及溢液",
                                     "左乳头挤压可见少量淡黄色溢液",
                                     "右乳外上象限可触及多个小结节，质韧，活动可",
                                     "双乳未见明显异常"};

constexpr const char* kQuadrants[] = {"外上象限", "外下象限", "内上象限", "内下象限", "乳晕区", "乳头后方"};
constexpr const char* kEchoes[] = {"低回声结节", "无回声区", "等回声结节", "混合回声包块", "低回声区"};
constexpr const char* kMargins[] = {"边界清，形态规则", "边界尚清，形态欠规则",
                                    "边界不清，形态不规则，呈蟹足样", "边界清，内透声好"};
constexpr const char* kFlow[] = {"CDFI未见明显血流信号", "CDFI可见点状血流信号", "CDFI可见较丰富血流信号"};

constexpr const char* kImpressions[] = {"双乳腺增生",
                                        "右乳结节，考虑纤维腺瘤（BI-RADS 3类）",
                                        "左乳囊肿（BI-RADS 2类）",
                                        "双乳腺增生伴结节形成（BI-RADS 3类）",
                                        "右乳占位，建议穿刺活检（BI-RADS 4a类）",
                                        "左乳肿物，恶性可能大（BI-RADS 5类）",
                                        "双乳未见明显异常（BI-RADS 1类）",
                                        "乳腺导管扩张"};

constexpr const char* kHandling[] = {"建议三个月后复查",   "建议六个月后复查", "建议一年后复查",
                                     "建议空心针穿刺活检", "建议手术治疗",     "定期随访"};

constexpr const char* kHu[] = {"IA", "IB", "IIA", "IIB", "III", "IV"};
constexpr const char* kDensity[] = {"a", "b", "c", "d"};

class Generator
{
public:
    explicit Generator(unsigned seed)
        : m_rng(seed)
    {
        std::vector<double> weights;
        for (const Weighted& s : kSurnames)
            weights.push_back(s.weight);
        m_surname = std::discrete_distribution<int>(weights.begin(), weights.end());
    }

    template <typename T, std::size_t N> const char* pick(const T (&items)[N])
    {
        return items[std::uniform_int_distribution<std::size_t>(0, N - 1)(m_rng)];
    }
    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_rng); }
    bool chance(double p) { return std::bernoulli_distribution(p)(m_rng); }

    std::string name()
    {
        std::string n = kSurnames[std::size_t(m_surname(m_rng))].text;
        // Commoner given-name characters come up more often.
        const auto given = [&] {
            const int count = int(std::size(kGiven));
            const int i = std::min(count - 1, int(std::exponential_distribution<double>(1.0 / 20)(m_rng)));
            return kGiven[i];
        };
        n += given();
        if (chance(0.75))
            n += given();
        return n;
    }

    std::string ultrasound()
    {
        if (chance(0.3))
            return "双乳腺体结构紊乱，回声不均，未见明显占位性病变。双腋下未见明显肿大淋巴结。";
        std::ostringstream s;
        s << (chance(0.5) ? "右乳" : "左乳") << pick(kQuadrants) << "可见一" << pick(kEchoes) << "，大小约"
          << between(3, 35) << "×" << between(2, 25) << "mm，" << pick(kMargins) << "，" << pick(kFlow)
          << "。双腋下未见明显肿大淋巴结。";
        return s.str();
    }

    std::string mammography()
    {
        std::string s = std::string("HU分型：左侧") + pick(kHu) + "；右侧" + pick(kHu) + "；";
        if (chance(0.6))
            s += std::string("BI-TADS分型：") + pick(kDensity) + "型";
        return s;
    }

    std::mt19937_64& rng() { return m_rng; }

private:
    std::mt19937_64 m_rng;
    std::discrete_distribution<int> m_surname;
};

// Days since 1970-01-01 to a civil date (H. Hinnant's algorithm).
void civil(long days, int& y, int& m, int& d)
{
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long doe = days - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

bool check(sqlite3* db, int rc, const char* what)
{
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW)
        return true;
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <Data.Dat> <reports> [seed]\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    const long count = std::atol(argv[2]);
    const unsigned seed = argc > 3 ? unsigned(std::atol(argv[3])) : 20240305u;
    if (std::ifstream(path).good()) {
        std::fprintf(stderr, "%s exists; not overwritten\n", path);
        return 2;
    }
    std::ifstream schemaFile(KORVELA_SCHEMA);
    std::stringstream schema;
    schema << schemaFile.rdbuf();

    const auto started = std::chrono::steady_clock::now();
    sqlite3* db = nullptr;
    if (!check(db, sqlite3_open(path, &db), "open") ||
        !check(db, sqlite3_exec(db, schema.str().c_str(), nullptr, nullptr, nullptr), "schema") ||
        !check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), "begin"))
        return 1;

    sqlite3_stmt* insert = nullptr;
    std::string sql = "INSERT INTO A VALUES (";
    for (int c = 1; c <= 27; ++c)
        sql += c == 1 ? "?" : ",?";
    sql += ")";
    if (!check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr), "prepare"))
        return 1;

    Generator g(seed);
    // 2005-01-01 to 2024-12-31, in the order the reports were written.
    const long firstDay = 12784;
    const long days = 7305;
    std::array<int, 10000> perYear{};
    for (long i = 0; i < count; ++i) {
        long day = firstDay + i * days / count;
        if (g.chance(0.1))
            day -= g.between(1, 5); // written up a few days after the examination
        day = std::max(day, firstDay);
        int y, m, d;
        civil(day, y, m, d);
        char date[16];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", y, m, d);
        char number[24];
        std::snprintf(number, sizeof number, "%04d%06d", y, ++perYear[std::size_t(y)]);

        const std::string texts[] = {
            g.name(),
            std::to_string(std::clamp(int(std::normal_distribution<>(46, 11)(g.rng())), 18, 90)),
            number,
            g.pick(kClinical),
            g.ultrasound(),
            g.mammography(),
            std::to_string(g.between(0, 6)),
            std::to_string(g.between(0, 6)),
            std::to_string(g.between(0, 6)),
            std::to_string(g.between(0, 6)),
            g.pick(kImpressions),
            g.pick(kHandling),
            date,
            g.pick(kPhysicians)};
        for (int c = 0; c < 14; ++c)
            sqlite3_bind_text(insert, c + 1, texts[c].data(), int(texts[c].size()), SQLITE_TRANSIENT);
        const int chosen = g.between(0, 12);
        for (int o = 0; o < 13; ++o)
            sqlite3_bind_int(insert, 15 + o, o == chosen || (o >= 7 && g.chance(0.05)) ? 1 : 0);
        if (!check(db, sqlite3_step(insert), "insert"))
            return 1;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (!check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit"))
        return 1;
    sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%ld reports written to %s in %.1f s\n", count, path, seconds);
    return 0;
}
