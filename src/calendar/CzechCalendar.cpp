#include "calendar/CzechCalendar.h"

#include <QStringList>
#include <algorithm>
#include <array>

namespace lomex {

namespace {

constexpr std::array<int, 12> kMonthLengths = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// One entry per day of a leap year, months in order; several names are joined by ", ".
constexpr std::array<const char*, 366> kNameDays = {
    // January
    "", "Karina", "Radmila", "Diana", "Dalimil", "Kašpar, Melichar, Baltazar", "Vilma", "Čestmír",
    "Vladan", "Břetislav", "Bohdana", "Pravoslav", "Edita", "Radovan", "Alice", "Ctirad",
    "Drahoslav", "Vladislav", "Doubravka", "Ilona", "Běla", "Slavomír", "Zdeněk", "Milena", "Miloš",
    "Zora", "Ingrid", "Otýlie", "Zdislava", "Robin", "Marika",
    // February
    "Hynek", "Nela", "Blažej", "Jarmila", "Dobromila", "Vanda", "Veronika", "Milada", "Apolena",
    "Mojmír", "Božena", "Slavěna", "Věnceslav", "Valentýn", "Jiřina", "Ljuba", "Miloslava",
    "Gizela", "Patrik", "Oldřich", "Lenka", "Petr", "Svatopluk", "Matěj", "Liliana", "Dorota",
    "Alexandr", "Lumír", "Horymír",
    // March
    "Bedřich", "Anežka", "Kamil", "Stela", "Kazimír", "Miroslav", "Tomáš", "Gabriela", "Františka",
    "Viktorie", "Anděla", "Řehoř", "Růžena", "Rút, Matylda", "Ida", "Elena, Herbert", "Vlastimil",
    "Eduard", "Josef", "Světlana", "Radek", "Leona", "Ivona", "Gabriel", "Marián", "Emanuel",
    "Dita", "Soňa", "Taťána", "Arnošt", "Kvido",
    // April
    "Hugo", "Erika", "Richard", "Ivana", "Miroslava", "Vendula", "Heřman, Hermína", "Ema", "Dušan",
    "Darja", "Izabela", "Julius", "Aleš", "Vincenc", "Anastázie", "Irena", "Rudolf", "Valérie",
    "Rostislav", "Marcela", "Alexandra", "Evženie", "Vojtěch", "Jiří", "Marek", "Oto", "Jaroslav",
    "Vlastislav", "Robert", "Blahoslav",
    // May
    "", "Zikmund", "Alexej", "Květoslav", "Klaudie", "Radoslav", "Stanislav", "", "Ctibor",
    "Blažena", "Svatava", "Pankrác", "Servác", "Bonifác", "Žofie", "Přemysl", "Aneta", "Nataša",
    "Ivo", "Zbyšek", "Monika", "Emil", "Vladimír", "Jana", "Viola", "Filip", "Valdemar", "Vilém",
    "Maxmilián", "Ferdinand", "Kamila",
    // June
    "Laura", "Jarmil", "Tamara", "Dalibor", "Dobroslav", "Norbert", "Iveta, Slavoj", "Medard",
    "Stanislava", "Gita", "Bruno", "Antonie", "Antonín", "Roland", "Vít", "Zbyněk", "Adolf",
    "Milan", "Leoš", "Květa", "Alois", "Pavla", "Zdeňka", "Jan", "Ivan", "Adriana", "Ladislav",
    "Lubomír", "Petr, Pavel", "Šárka",
    // July
    "Jaroslava", "Patricie", "Radomír", "Prokop", "Cyril, Metoděj", "", "Bohuslava", "Nora",
    "Drahoslava", "Libuše, Amálie", "Olga", "Bořek", "Markéta", "Karolína", "Jindřich", "Luboš",
    "Martina", "Drahomíra", "Čeněk", "Ilja", "Vítězslav", "Magdaléna", "Libor", "Kristýna", "Jakub",
    "Anna", "Věroslav", "Viktor", "Marta", "Bořivoj", "Ignác",
    // August
    "Oskar", "Gustav", "Miluše", "Dominik", "Kristián", "Oldřiška", "Lada", "Soběslav", "Roman",
    "Vavřinec", "Zuzana", "Klára", "Alena", "Alan", "Hana", "Jáchym", "Petra", "Helena", "Ludvík",
    "Bernard", "Johana", "Bohuslav", "Sandra", "Bartoloměj", "Radim", "Luděk", "Otakar", "Augustýn",
    "Evelína", "Vladěna", "Pavlína",
    // September
    "Linda, Samuel", "Adéla", "Bronislav", "Jindřiška", "Boris", "Boleslav", "Regína", "Mariana",
    "Daniela", "Irma", "Denisa", "Marie", "Lubor", "Radka", "Jolana", "Ludmila", "Naděžda",
    "Kryštof", "Zita", "Oleg", "Matouš", "Darina", "Berta", "Jaromír", "Zlata", "Andrea", "Jonáš",
    "Václav", "Michal", "Jeroným",
    // October
    "Igor", "Olivie, Oliver", "Bohumil", "František", "Eliška", "Hanuš", "Justýna", "Věra",
    "Štefan, Sára", "Marina", "Andrej", "Marcel", "Renáta", "Agáta", "Tereza", "Havel", "Hedvika",
    "Lukáš", "Michaela", "Vendelín", "Brigita", "Sabina", "Teodor", "Nina", "Beáta", "Erik",
    "Šarlota, Zoe", "", "Silvie", "Tadeáš", "Štěpánka",
    // November
    "Felix", "", "Hubert", "Karel", "Miriam", "Liběna", "Saskie", "Bohumír", "Bohdan", "Evžen",
    "Martin", "Benedikt", "Tibor", "Sáva", "Leopold", "Otmar", "Mahulena", "Romana", "Alžběta",
    "Nikola", "Albert", "Cecílie", "Klement", "Emílie", "Kateřina", "Artur", "Xenie", "René",
    "Zina", "Ondřej",
    // December
    "Iva", "Blanka", "Svatoslav", "Barbora", "Jitka", "Mikuláš", "Ambrož, Benjamín", "Květoslava",
    "Vratislav", "Julie", "Dana", "Simona", "Lucie", "Lýdie", "Radana, Radan", "Albína", "Daniel",
    "Miloslav", "Ester", "Dagmar", "Natálie", "Šimon", "Vlasta", "Adam, Eva", "", "Štěpán",
    "Žaneta", "Bohumila", "Judita", "David", "Silvestr",
};

struct FixedHoliday {
    int month;
    int day;
    const char* cs;
    const char* en;
};

constexpr std::array<FixedHoliday, 11> kFixedHolidays = {{
    {1, 1, "Nový rok", "New Year's Day"},
    {5, 1, "Svátek práce", "Labour Day"},
    {5, 8, "Den vítězství", "Victory Day"},
    {7, 5, "Cyril a Metoděj", "Saints Cyril & Methodius"},
    {7, 6, "Upálení mistra Jana Husa", "Jan Hus Day"},
    {9, 28, "Den české státnosti", "Czech Statehood Day"},
    {10, 28, "Vznik Československa", "Independent Czechoslovak State Day"},
    {11, 17, "Den boje za svobodu a demokracii", "Struggle for Freedom and Democracy Day"},
    {12, 24, "Štědrý den", "Christmas Eve"},
    {12, 25, "1. svátek vánoční", "Christmas Day"},
    {12, 26, "2. svátek vánoční", "St. Stephen's Day"},
}};

const std::array<QStringList, 12>& nameDayTable()
{
    static const std::array<QStringList, 12> table = [] {
        std::array<QStringList, 12> months;
        size_t i = 0;
        for (size_t m = 0; m < 12; ++m)
            for (int d = 0; d < kMonthLengths[m]; ++d)
                months[m].append(QString::fromUtf8(kNameDays[i++]));
        return months;
    }();
    return table;
}

// Easter Sunday as month and day (Meeus/Jones/Butcher).
QDate easterDate(int y)
{
    const int a = y % 19, b = y / 100, c = y % 100;
    const int d = b / 4, e = b % 4;
    const int f = (b + 8) / 25;
    const int g = (b - f + 1) / 3;
    const int h = (19 * a + b - d - g + 15) % 30;
    const int i = c / 4, k = c % 4;
    const int l = (32 + 2 * e + 2 * i - h - k) % 7;
    const int m = (a + 11 * h + 22 * l) / 451;
    const int n = h + l - 7 * m + 114;
    return QDate(y, n / 31, n % 31 + 1);
}

struct HolidayDay {
    QDate day;
    const char* cs;
    const char* en;
};

// Good Friday has been a Czech public holiday since 2016.
constexpr int kFirstGoodFridayYear = 2016;

// The year's holidays as plain dates, fixed ones first, then Good Friday and Easter Monday.
// A year before Good Friday was a holiday leaves its entry an invalid date, which no day equals.
std::array<HolidayDay, 13> holidayDays(int year)
{
    std::array<HolidayDay, 13> days{};
    size_t i = 0;
    for (const FixedHoliday& h : kFixedHolidays)
        days[i++] = {QDate(year, h.month, h.day), h.cs, h.en};
    const QDate easter = easterDate(year);
    days[i++] = {year >= kFirstGoodFridayYear ? easter.addDays(-2) : QDate(), "Velký pátek", "Good Friday"};
    days[i++] = {easter.addDays(1), "Velikonoční pondělí", "Easter Monday"};
    return days;
}

// One year's holiday days kept while the working-day loops walk through it.
struct HolidayDays {
    int year = 0;
    std::array<HolidayDay, 13> days{};

    bool contains(const QDate& day)
    {
        if (day.year() != year) {
            year = day.year();
            days = holidayDays(year);
        }
        return std::any_of(days.begin(), days.end(), [&](const HolidayDay& h) { return h.day == day; });
    }
};

bool isWorkingDay(const QDate& day, HolidayDays& holidays)
{
    const int dow = day.dayOfWeek(); // 1 = Monday ... 7 = Sunday
    return dow != 6 && dow != 7 && !holidays.contains(day);
}

} // namespace

std::optional<QString> CzechCalendar::nameDay(const QDateTime& date, const Calendar& calendar)
{
    const Calendar::Components c = calendar.components(date);
    if (c.month < 1 || c.month > 12 || c.day < 1)
        return std::nullopt;
    const QStringList& month = nameDayTable()[size_t(c.month - 1)];
    if (c.day > month.size())
        return std::nullopt;
    const QString& entry = month[c.day - 1];
    if (entry.isEmpty())
        return std::nullopt;
    return entry;
}

std::optional<QDateTime> CzechCalendar::easterSunday(int year, const Calendar& calendar)
{
    if (year < Calendar::minYear || year > Calendar::maxYear)
        return std::nullopt;
    const QDate e = easterDate(year);
    return calendar.date(year, e.month(), e.day());
}

std::vector<CzechCalendar::Holiday> CzechCalendar::holidays(int year, const Calendar& calendar)
{
    std::vector<Holiday> list;
    if (year < Calendar::minYear || year > Calendar::maxYear)
        return list;
    list.reserve(13);
    for (const HolidayDay& h : holidayDays(year)) {
        if (!h.day.isValid())
            continue;
        if (auto date = calendar.date(h.day.year(), h.day.month(), h.day.day()))
            list.push_back({*date, QString::fromUtf8(h.cs), QString::fromUtf8(h.en)});
    }
    std::stable_sort(list.begin(), list.end(), [](const Holiday& a, const Holiday& b) { return a.date < b.date; });
    return list;
}

std::optional<CzechCalendar::Holiday> CzechCalendar::holiday(const QDateTime& on, const Calendar& calendar)
{
    const QDate day = calendar.localDate(on);
    if (!day.isValid())
        return std::nullopt;
    const QDateTime start = calendar.startOfDay(day); // invalid outside the calendar's years
    if (!start.isValid())
        return std::nullopt;
    for (const HolidayDay& h : holidayDays(day.year())) {
        if (h.day == day)
            return Holiday{start, QString::fromUtf8(h.cs), QString::fromUtf8(h.en)};
    }
    return std::nullopt;
}

std::optional<CzechCalendar::Holiday> CzechCalendar::nextHoliday(const QDateTime& after, const Calendar& calendar)
{
    const QDateTime start = calendar.startOfDay(after);
    if (!start.isValid())
        return std::nullopt;
    const int year = calendar.year(after);
    for (int y : {year, year + 1}) {
        for (Holiday& h : holidays(y, calendar)) {
            if (h.date > start)
                return std::move(h);
        }
    }
    return std::nullopt;
}

// Both loops walk plain calendar days: in a Gregorian calendar the next day of a date does not
// depend on the time zone, and a day's weekday and holiday status depend on its date alone.
int CzechCalendar::workdays(const QDateTime& until, const QDateTime& from, const Calendar& calendar)
{
    QDate day = calendar.localDate(from);
    const QDate end = calendar.localDate(until);
    if (!day.isValid() || !end.isValid())
        return 0;
    HolidayDays holidays;
    int count = 0;
    while (count < maxCountedWorkdays && day < end) {
        day = day.addDays(1);
        if (isWorkingDay(day, holidays))
            ++count;
    }
    return count;
}

QDateTime CzechCalendar::adding(int workdays, const QDateTime& to, const Calendar& calendar)
{
    QDate day = calendar.localDate(to);
    if (!day.isValid() || workdays > maxAddedWorkdays)
        return {};
    HolidayDays holidays;
    for (int i = 0; i < workdays; ++i) {
        do
            day = day.addDays(1);
        while (!isWorkingDay(day, holidays));
    }
    return calendar.startOfDay(day);
}

} // namespace lomex
