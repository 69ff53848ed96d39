#!/usr/bin/env python3
"""Writes the bundled sample family tree: a fictional Russian family over seven generations.

Output (deterministic, fixed seed): sample-utf8.ged (UTF-8, no byte-order mark, "1 CHAR UTF-8") and
sample-cp1251.ged (Windows-1251, "1 CHAR ANSI") beside this script. Both hold the same tree: about 150
persons with Cyrillic names and patronymics, dates in GEDCOM and Russian forms, places, notes (inline and
as note records, with CONC and CONT), a few persons married more than once, events and associations.
All persons, places and stories are invented.

Usage: python3 samples/make-sample.py
"""

import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(1861)

MALE = {
    "Иван": ("Иванович", "Ивановна"), "Пётр": ("Петрович", "Петровна"),
    "Николай": ("Николаевич", "Николаевна"), "Алексей": ("Алексеевич", "Алексеевна"),
    "Фёдор": ("Фёдорович", "Фёдоровна"), "Михаил": ("Михайлович", "Михайловна"),
    "Степан": ("Степанович", "Степановна"), "Григорий": ("Григорьевич", "Григорьевна"),
    "Василий": ("Васильевич", "Васильевна"), "Андрей": ("Андреевич", "Андреевна"),
    "Сергей": ("Сергеевич", "Сергеевна"), "Дмитрий": ("Дмитриевич", "Дмитриевна"),
    "Никита": ("Никитич", "Никитична"), "Илья": ("Ильич", "Ильинична"),
    "Егор": ("Егорович", "Егоровна"), "Павел": ("Павлович", "Павловна"),
    "Тимофей": ("Тимофеевич", "Тимофеевна"), "Яков": ("Яковлевич", "Яковлевна"),
}
FEMALE = ["Анна", "Мария", "Евдокия", "Прасковья", "Наталья", "Татьяна", "Ольга", "Екатерина",
          "Варвара", "Елизавета", "Ксения", "Агафья", "Софья", "Вера", "Надежда", "Любовь",
          "Александра", "Пелагея", "Ирина", "Галина"]
# Surname: (male form, female form)
OUTSIDE = [("Кузнецов", "Кузнецова"), ("Смирнов", "Смирнова"), ("Орлов", "Орлова"),
           ("Соколов", "Соколова"), ("Лебедев", "Лебедева"), ("Воронцов", "Воронцова"),
           ("Богданов", "Богданова"), ("Ильин", "Ильина"), ("Зуев", "Зуева"),
           ("Покровский", "Покровская"), ("Белов", "Белова"), ("Крылов", "Крылова"),
           ("Тихонов", "Тихонова"), ("Гончаров", "Гончарова"), ("Мельников", "Мельникова"),
           ("Рябинин", "Рябинина"), ("Ветров", "Ветрова"), ("Звягинцев", "Звягинцева")]
FAMILY = ("Северцев", "Северцева")
PLACES = ["с. Берёзовка, Тульская губерния", "Тула", "Калуга", "Москва", "д. Ольховка, Алексинский уезд",
          "Серпухов", "с. Покровское, Калужская губерния", "Рязань", "Кострома", "Ярославль",
          "Нижний Новгород", "Санкт-Петербург", "Воронеж", "Орёл", "Тверь"]
OCCUPATIONS = ["крестьянин", "кузнец", "мельник", "учитель", "священник", "купец 3-й гильдии",
               "инженер", "врач", "агроном", "счетовод"]
MONTHS_GED = ["JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"]
MONTHS_RU = ["января", "февраля", "марта", "апреля", "мая", "июня", "июля", "августа", "сентября",
             "октября", "ноября", "декабря"]

MAX_PERSONS = 150
LAST_GEN = 7


class Person:
    def __init__(self, sex, given, patronymic, surname, birth_surname=None):
        self.sex = sex
        self.given = given
        self.patronymic = patronymic
        self.surname = surname              # current surname
        self.birth_surname = birth_surname or surname
        self.birth = None                   # (year, month, day)
        self.death = None
        self.birth_text = ""
        self.death_text = ""
        self.birth_place = ""
        self.death_place = ""
        self.famc = None
        self.fams = []
        self.note = ""
        self.note_ref = None
        self.occupation_event = None
        self.asso = []
        self.xref = ""


class Family:
    def __init__(self, husb, wife, year):
        self.husb = husb
        self.wife = wife
        self.year = year
        self.children = []
        self.place = ""
        self.date_text = ""
        self.note = ""
        self.xref = ""


persons = []
families = []


def add(p):
    persons.append(p)
    p.xref = "@I%d@" % len(persons)
    return p


def date_forms(y, m, d, style):
    """A date text in one of the forms genealogists write."""
    if style == 0:
        return "%d %s %d" % (d, MONTHS_GED[m - 1], y)
    if style == 1:
        return "%d %s %d" % (d, MONTHS_RU[m - 1], y)
    if style == 2:
        return "%02d.%02d.%d" % (d, m, y)
    if style == 3:
        return "ABT %d" % y
    if style == 4:
        return "около %d" % y
    if style == 5:
        return "BET %d AND %d" % (y - 1, y + 1)
    if style == 6:
        return "%s %d" % (MONTHS_GED[m - 1], y)
    if style == 7:
        return "между %d и %d" % (y - 1, y + 1)
    if style == 8:
        return "BEF %d" % (y + 1)
    return "%d" % y


def pick_date(y, modern):
    m = rng.randint(1, 12)
    d = rng.randint(1, 28)
    if modern:
        style = rng.choice([0, 0, 1, 2, 2, 6])
    else:
        style = rng.choice([0, 1, 1, 3, 4, 5, 7, 8, 9, 6])
    return (y, m, d), date_forms(y, m, d, style)


def set_life(p, year, gen, may_die_young=True):
    p.birth, p.birth_text = pick_date(year, gen >= 5)
    p.birth_place = rng.choice(PLACES)
    if year < 1935 or rng.random() < 0.1:
        age = rng.randint(35, 85) if not may_die_young or rng.random() > 0.1 else rng.randint(1, 10)
        dy = min(year + age, 2019)
        p.death, p.death_text = pick_date(dy, dy >= 1900)
        p.death_place = rng.choice(PLACES)


def outsider(sex, year, gen):
    sn = rng.choice(OUTSIDE)
    father = rng.choice(list(MALE))
    if sex == "M":
        p = Person("M", rng.choice(list(MALE)), MALE[father][0], sn[0])
    else:
        p = Person("F", rng.choice(FEMALE), MALE[father][1], sn[1])
    add(p)
    set_life(p, year, gen, may_die_young=False)
    return p


def marry(husb, wife, year):
    f = Family(husb, wife, year)
    families.append(f)
    f.xref = "@F%d@" % len(families)
    husb.fams.append(f)
    wife.fams.append(f)
    if wife.sex == "F":
        wife.surname = husb.surname[:-2] + "ая" if husb.surname.endswith("ий") else husb.surname + "а"
    (y, m, d), f.date_text = pick_date(year, year >= 1900)
    f.place = rng.choice(PLACES)
    return f


def child_of(f, sex, year, gen):
    father = f.husb
    if sex == "M":
        c = Person("M", rng.choice(list(MALE)), MALE[father.given][0], father.surname)
    else:
        sn = father.surname[:-2] + "ая" if father.surname.endswith("ий") else father.surname + "а"
        c = Person("F", rng.choice(FEMALE), MALE[father.given][1], sn)
    add(c)
    set_life(c, year, gen)
    c.famc = f
    f.children.append(c)
    return c


def grow(f, gen):
    """Children of a family; the family name line is followed further than the others."""
    if gen > LAST_GEN or len(persons) >= MAX_PERSONS:
        return
    n = rng.randint(2, 5)
    base = f.year + 1
    kids = []
    for k in range(n):
        if len(persons) >= MAX_PERSONS - 2:
            break
        sex = "M" if (k == 0 or rng.random() < 0.5) else "F"
        kids.append(child_of(f, sex, base + 2 * k + rng.randint(0, 1), gen))
    for c in kids:
        if len(persons) >= MAX_PERSONS - 2 or c.death and c.death[0] - c.birth[0] < 18:
            continue
        y = c.birth[0] + rng.randint(20, 27)
        if y > 2015:
            continue
        follow = c.sex == "M" and c.surname.startswith("Северцев") or rng.random() < 0.5
        if c.sex == "M":
            fam = marry(c, outsider("F", c.birth[0] + rng.randint(-4, 1), gen), y)
        else:
            fam = marry(outsider("M", c.birth[0] - rng.randint(0, 5), gen), c, y)
        if follow:
            grow(fam, gen + 1)


def main():
    root = add(Person("M", "Пётр", "Никитич", FAMILY[0]))
    set_life(root, 1782, 1, may_die_young=False)
    root.note = ("Основатель рода. Переселился из-под Калуги в Тульскую губернию после пожара 1811 года, "
                 "занимался кузнечным делом; по семейному преданию, ковал подковы для почтовой станции.")
    wife = outsider("F", 1785, 1)
    first = marry(root, wife, 1805)
    grow(first, 2)

    # A few widowers and widows marry again; their later children follow.
    married = [p for p in persons if p.fams and p.death and p.birth[0] < 1930]
    rng.shuffle(married)
    remarried = 0
    for p in married:
        if remarried == 4 or len(persons) >= MAX_PERSONS + 6:
            break
        spouse = p.fams[0].wife if p.sex == "M" else p.fams[0].husb
        if not spouse.death or spouse.death[0] > p.death[0] - 8:
            continue
        y = spouse.death[0] + 1
        if p.sex == "M":
            fam = marry(p, outsider("F", p.birth[0] + 8, 3), y)
        else:
            fam = marry(outsider("M", p.birth[0] - 3, 3), p, y)
            p.surname = fam.husb.surname + "а" if not fam.husb.surname.endswith("ий") else p.surname
        fam.note = "Второй брак, заключён после смерти первого супруга."
        for k in range(rng.randint(1, 2)):
            child_of(fam, "M" if k == 0 else "F", y + 1 + 2 * k, 4)
        remarried += 1

    # Notes, occupations and associations.
    for i, p in enumerate(persons):
        if i % 9 == 4:
            p.note = "Записан в метрической книге прихода; фамилия в документах встречается в разных написаниях."
        if i % 13 == 6:
            p.note_ref = "@N%d@" % (i // 13 + 1)
        if i % 5 == 2 and p.birth[0] < 1960:
            p.occupation_event = (rng.choice(OCCUPATIONS), p.birth[0] + rng.randint(18, 30), rng.choice(PLACES))
    godparents = [p for p in persons if p.birth[0] < 1900]
    for p in persons[5::17]:
        g = rng.choice(godparents)
        if g is not p:
            p.asso.append((g, "Крёстный" if g.sex == "M" else "Крёстная"))
    write_all()


def wrap_note(level, tag, text):
    """A note value as one line and CONC lines of at most 90 characters; never split before a blank."""
    lines = []
    chunks = []
    while len(text) > 90:
        cut = 90
        while text[cut - 1] == " " or text[cut] == " ":
            cut -= 1
        chunks.append(text[:cut])
        text = text[cut:]
    chunks.append(text)
    lines.append("%d %s %s" % (level, tag, chunks[0]))
    for c in chunks[1:]:
        lines.append("%d CONC %s" % (level + 1, c))
    return lines


def gedcom(charset):
    out = ["0 HEAD", "1 SOUR TrevolanSample", "2 NAME Trevolan sample tree", "1 DEST ANY",
           "1 DATE 10 DEC 2026", "1 CHAR " + charset, "1 GEDC", "2 VERS 5.5.1", "2 FORM LINEAGE-LINKED",
           "1 SUBM @U1@", "0 @U1@ SUBM", "1 NAME Составитель образца"]
    for p in persons:
        out.append("0 %s INDI" % p.xref)
        if p.sex == "F" and p.surname != p.birth_surname:
            out.append("1 NAME %s %s /%s (%s)/" % (p.given, p.patronymic, p.surname, p.birth_surname))
            out.append("2 GIVN %s %s" % (p.given, p.patronymic))
            out.append("2 SURN %s" % p.birth_surname)
            out.append("2 _MARNM %s" % p.surname)
        else:
            out.append("1 NAME %s %s /%s/" % (p.given, p.patronymic, p.surname))
            out.append("2 GIVN %s %s" % (p.given, p.patronymic))
            out.append("2 SURN %s" % p.surname)
        out.append("1 SEX " + p.sex)
        out.append("1 BIRT")
        out.append("2 DATE " + p.birth_text)
        out.append("2 PLAC " + p.birth_place)
        if p.death:
            out.append("1 DEAT")
            out.append("2 DATE " + p.death_text)
            out.append("2 PLAC " + p.death_place)
        if p.occupation_event:
            occ, y, place = p.occupation_event
            out.append("1 EVEN " + occ)
            out.append("2 TYPE Род занятий")
            out.append("2 DATE ABT %d" % y)
            out.append("2 PLAC " + place)
        if p.famc:
            out.append("1 FAMC " + p.famc.xref)
        for f in p.fams:
            out.append("1 FAMS " + f.xref)
        for g, rela in p.asso:
            out.append("1 ASSO " + g.xref)
            out.append("2 RELA " + rela)
        if p.note:
            out.extend(wrap_note(1, "NOTE", p.note))
            out.append("2 CONT Сведения собраны по рассказам родственников.")
        elif p.note_ref:
            out.append("1 NOTE " + p.note_ref)
    for f in families:
        out.append("0 %s FAM" % f.xref)
        out.append("1 HUSB " + f.husb.xref)
        out.append("1 WIFE " + f.wife.xref)
        for c in sorted(f.children, key=lambda c: c.birth):
            out.append("1 CHIL " + c.xref)
        out.append("1 MARR")
        out.append("2 DATE " + f.date_text)
        out.append("2 PLAC " + f.place)
        if f.note:
            out.append("2 NOTE " + f.note)
    refs = sorted({p.note_ref for p in persons if p.note_ref and not p.note}, key=lambda r: int(r[2:-1]))
    for r in refs:
        out.append("0 %s NOTE Из семейного архива:" % r)
        out.append("1 CONT письма и фотографии хранятся у потомков; на обороте одной карточки подпись")
        out.append("1 CONC  «на память о Берёзовке».")
    out.append("0 TRLR")
    return "\r\n".join(out) + "\r\n"


def write_all():
    with open(os.path.join(HERE, "sample-utf8.ged"), "wb") as f:
        f.write(gedcom("UTF-8").encode("utf-8"))
    with open(os.path.join(HERE, "sample-cp1251.ged"), "wb") as f:
        f.write(gedcom("ANSI").encode("cp1251"))
    def depth(p):
        return 1 + depth(p.famc.husb) if p.famc else 1
    print("persons %d, families %d, generations %d, remarried %d" % (
        len(persons), len(families), max(depth(p) for p in persons),
        sum(1 for p in persons if len(p.fams) > 1)))


if __name__ == "__main__":
    main()
