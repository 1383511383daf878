// Drawing contact records from a seed. Every choice goes through Draw, a
// SplitMix64 generator seeded from (seed, index) alone, in a fixed order, so
// the tables below and the order of the draws are what the output depends on:
// changing either changes every sample file made from then on.
#include "SampleContacts.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tbm::sample {
namespace {

// SplitMix64: small, fast, and with a fixed, documented sequence for every
// starting state.
class Draw {
 public:
  explicit Draw(std::uint64_t state) : state_(state) {}

  std::uint64_t Next() {
    state_ += 0x9E3779B97F4A7C15u;
    return Mix(state_);
  }

  // A number from 0 to bound - 1. REQUIRES: bound > 0.
  std::uint32_t Below(std::uint32_t bound) {
    // The high half of a 64 x 32 bit product: even and exact integer work.
    return static_cast<std::uint32_t>((Next() >> 32) * bound >> 32);
  }

  // True in percent cases out of a hundred.
  bool Chance(std::uint32_t percent) { return Below(100) < percent; }

  template <typename Table>
  std::string_view Pick(const Table& table) {
    return table[Below(static_cast<std::uint32_t>(std::size(table)))];
  }

  static std::uint64_t Mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

constexpr std::string_view kFirstNames[] = {
    "James",   "Mary",   "José",    "María",  "Zoë",        "Øyvind",   "Søren",  "François",
    "Hélène",  "Jürgen", "Anaïs",   "Łukasz", "Małgorzata", "Sigríður", "Jón",    "Ingrid",
    "Giulia",  "Luca",   "Chiara",  "Matteo", "João",       "Inês",     "Pedro",  "Camille",
    "Élodie",  "Noé",    "Mehmet",  "Ayşe",   "Tomáš",      "Zuzana",   "Ngozi",  "Chidi",
    "Priya",   "Arjun",  "Siobhán", "Seán",   "Niamh",      "Anna",     "Peter",  "Emma",
    "Liam",    "Olivia", "Noah",    "Sophie", "Lars",       "Astrid",   "Zsófia", "Kristóf",
    "Ömer",    "Thanh",  "Linh",    "Rafael", "Lucía",      "Dagný",    "Björn",  "Åsa",
    "Michael", "Sarah",  "David",   "Laura",  "Thomas",     "Julia",    "Daniel", "Clara",
};

constexpr std::string_view kLastNames[] = {
    "García",     "Müller",   "Ødegård",   "Smith",     "Johnson",   "Dubois",   "Lefèvre",
    "Rossi",      "Bianchi",  "Kowalski",  "Wójcik",    "Nowak",     "Novák",    "Dvořák",
    "Jensen",     "Sørensen", "Andersson", "Lindqvist", "Gonçalves", "Silva",    "Pereira",
    "Fernández",  "López",    "Martínez",  "O'Brien",   "Murphy",    "Schmidt",  "Schäfer",
    "Weiß",       "Yılmaz",   "Öztürk",    "Nagy",      "Kovács",    "Jónsson",  "Guðmundsdóttir",
    "Okafor",     "Mensah",   "Patel",     "Khan",      "Nguyễn",    "Tanaka",   "van der Berg",
    "de la Cruz", "Brown",    "Taylor",    "Wilson",    "Moreau",    "Fontaine", "Håkansson",
};

// Whole names in scripts other than Latin, each in its own customary order.
constexpr std::string_view kOtherScriptNames[] = {
    "山田 太郎",
    "鈴木 花子",
    "佐藤 健",
    "王 芳",
    "李 娜",
    "김 민준",
    "박 서연",
    "Иван Петров",
    "Ольга Смирнова",
    "Дмитрий Козлов",
    "Νίκος Παπαδόπουλος",
    "Ελένη Γεωργίου",
};

constexpr std::string_view kCompanies[] = {
    "Smith, Jones & Co",          "The \"Blue\" Door",
    "Alder & Finch Ltd",          "Müller & Söhne GmbH",
    "Lefèvre Frères SA",          "Nordlys Shipping AS",
    "Gonçalves Importadora Ltda", "Brightwater Analytics",
    "Kowalski i Synowie",         "Café \"Le Petit Zinc\"",
    "Harbour, Field & Stone LLP", "Greenleaf Organics",
    "Atlas Freight Services",     "Hôtel du Parc",
    "Zürcher Präzision AG",       "Sakura Trading Co., Ltd.",
    "Red Kite Publishing",        "Vega Solar, Inc.",
    "Ostrava Steelworks",         "Little \"Big\" Toys",
    "Pacific Rim Imports",        "Blackbird Coffee Roasters",
    "Saga Travel ehf.",           "Tandem Bicycles",
    "Marlow & Daughters",         "Helios Medical Supplies",
    "Quill, Ink and Paper",       "Öresund Logistik AB",
};

// A city and the shape of its telephone numbers: each '#' becomes a digit.
struct City {
  std::string_view name;
  std::string_view phone;
};

constexpr City kCities[] = {
    {"Lyon", "+33 4 7# ## ## ##"},        {"Paris", "+33 1 4# ## ## ##"},
    {"Zürich", "+41 44 2## ## ##"},       {"Genève", "+41 22 3## ## ##"},
    {"São Paulo", "+55 11 3###-####"},    {"Kraków", "+48 12 4## ## ##"},
    {"Reykjavík", "+354 5## ####"},       {"London", "+44 20 7### ####"},
    {"Manchester", "+44 161 2## ####"},   {"New York", "+1 212 5##-####"},
    {"Chicago", "+1 312 6##-####"},       {"Montréal", "+1 514 8##-####"},
    {"Berlin", "+49 30 2######"},         {"München", "+49 89 3######"},
    {"Madrid", "+34 91 5## ## ##"},       {"Barcelona", "+34 93 4## ## ##"},
    {"Lisboa", "+351 21 3## ####"},       {"Milano", "+39 02 8### ####"},
    {"Oslo", "+47 22 ## ## ##"},          {"Tromsø", "+47 77 ## ## ##"},
    {"Stockholm", "+46 8 5## ### ##"},    {"København", "+45 33 ## ## ##"},
    {"Wien", "+43 1 5## ## ##"},          {"Praha", "+420 2## ### ###"},
    {"Dublin", "+353 1 6## ####"},        {"Tokyo", "+81 3 5### ####"},
    {"Buenos Aires", "+54 11 4###-####"},
};

constexpr std::string_view kSentences[] = {
    "Prefers email, not phone.",
    "Asked about the \"Premium\" plan.",
    "Met at the trade fair in Hannover.",
    "Call back after the holidays.",
    "Invoice 2291 paid late; follow up.",
    "Speaks French and German.",
    "Wants the catalogue in Spanish.",
    "New contact since the merger.",
    "Send samples of the spring range.",
    "Rendez-vous prévu en février.",
    "Only reachable in the mornings.",
    "Deliveries to the side entrance, please.",
    "Interested in a bulk discount.",
    "Moved to the Zürich office last year.",
    "Do not call on Fridays.",
    "Referred by a long-standing customer.",
    "Needs a signed quote before ordering.",
    "Wrote a short piece about our products.",
};

bool IsLeapYear(std::uint32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::uint32_t DaysInMonth(std::uint32_t year, std::uint32_t month) {
  constexpr std::uint32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Whether every character of the UTF-8 text is one windows-1252 and Mac OS
// Roman both have: ASCII, or a letter of Latin-1 other than the Icelandic
// eth and thorn and the y with acute (and the multiplication and division
// signs), which Mac OS Roman lacks.
bool IsWestern(std::string_view text) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) continue;
    // Latin-1 letters U+00C0 to U+00FF are C3 80 to C3 BF in UTF-8.
    if (byte != 0xC3 || at + 1 == text.size()) return false;
    const unsigned letter = 0xC0u + (static_cast<unsigned char>(text[++at]) & 0x3Fu);
    if (letter == 0xD0 || letter == 0xF0 || letter == 0xDE || letter == 0xFE || letter == 0xDD ||
        letter == 0xFD || letter == 0xD7 || letter == 0xF7) {
      return false;
    }
  }
  return true;
}

// The first name of the kind asked for at or after position at of names,
// going round: picking a western name takes no more draws than any name,
// so the rest of the record is the same either way.
std::string_view NameFrom(std::span<const std::string_view> names, std::uint32_t at,
                          NameLetters letters) {
  for (std::size_t tried = 0; tried < names.size(); ++tried) {
    const std::string_view name = names[(at + tried) % names.size()];
    if (letters == NameLetters::kAny || IsWestern(name)) return name;
  }
  return names[at % names.size()];
}

std::string Name(Draw& draw, NameLetters letters) {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  if (draw.Chance(8)) {
    const std::uint32_t other =
        draw.Below(static_cast<std::uint32_t>(std::size(kOtherScriptNames)));
    if (letters == NameLetters::kAny) return std::string(kOtherScriptNames[other]);
    // A western name in the place of one in another script, from the same draw.
    first = other * 5;
    last = other * 3;
  } else {
    first = draw.Below(static_cast<std::uint32_t>(std::size(kFirstNames)));
    last = draw.Below(static_cast<std::uint32_t>(std::size(kLastNames)));
  }
  std::string name(NameFrom(kFirstNames, first, letters));
  name += ' ';
  name += NameFrom(kLastNames, last, letters);
  return name;
}

std::string Phone(Draw& draw, std::string_view shape) {
  std::string phone(shape);
  for (char& c : phone) {
    if (c == '#') c = static_cast<char>('0' + draw.Below(10));
  }
  return phone;
}

std::string BirthDate(Draw& draw) {
  const std::uint32_t year = kFirstBirthYear + draw.Below(kLastBirthYear - kFirstBirthYear + 1);
  const std::uint32_t month = 1 + draw.Below(12);
  const std::uint32_t day = 1 + draw.Below(DaysInMonth(year, month));
  return std::to_string(month) + '/' + std::to_string(day) + '/' + std::to_string(year);
}

std::string Orders(Draw& draw) {
  if (draw.Chance(4)) return {};
  return std::to_string(draw.Below(kMostOrders + 1));
}

// Office hours, 7:00 AM to 8:45 PM, on the quarter hour.
std::string CallTime(Draw& draw) {
  if (draw.Chance(6)) return {};
  const std::uint32_t hour = 7 + draw.Below(14);
  const std::uint32_t minute = 15 * draw.Below(4);
  const std::uint32_t clockHour = hour % 12 == 0 ? 12 : hour % 12;
  std::string time = std::to_string(clockHour) + ':';
  if (minute < 10) time += '0';
  time += std::to_string(minute);
  time += hour < 12 ? " AM" : " PM";
  return time;
}

std::string Category(Draw& draw) {
  const std::uint32_t roll = draw.Below(100);
  if (roll < 55) return "Customer";
  if (roll < 75) return "Supplier";
  if (roll < 90) return "Partner";
  return "Press";
}

std::string Notes(Draw& draw) {
  const std::uint32_t roll = draw.Below(100);
  if (roll < 65) return {};
  std::string notes(draw.Pick(kSentences));
  if (roll >= 90) {
    notes += '\n';
    notes += draw.Pick(kSentences);
  }
  return notes;
}

}  // namespace

Contact SampleContact(std::uint64_t seed, std::uint32_t index, NameLetters letters) {
  Draw draw(Draw::Mix(Draw::Mix(seed) + index));
  Contact contact;
  contact.name = Name(draw, letters);
  contact.company = draw.Pick(kCompanies);
  const City& city = kCities[draw.Below(static_cast<std::uint32_t>(std::size(kCities)))];
  contact.city = city.name;
  contact.phone = Phone(draw, city.phone);
  contact.born = BirthDate(draw);
  contact.orders = Orders(draw);
  contact.callAt = CallTime(draw);
  contact.category = Category(draw);
  contact.active = draw.Chance(70) ? "Yes" : "";
  contact.notes = Notes(draw);
  return contact;
}

std::string SampleContactsCsv(std::uint64_t seed, int count, NameLetters letters) {
  std::string csv(kContactHeader);
  csv += '\n';
  for (int index = 0; index < count; ++index) {
    WriteCsvRow(csv, SampleContact(seed, static_cast<std::uint32_t>(index), letters));
  }
  return csv;
}

}  // namespace tbm::sample
