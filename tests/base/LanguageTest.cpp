#include "base/Language.h"
#include "base/Registry.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace qv;

namespace {

class LanguageTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    test::ScopedEnv m_registry { "QUILVANE_REGISTRY", (m_dir / "registry.reg").string() };
    test::ScopedEnv m_locale_all { "LC_ALL", std::nullopt };
    test::ScopedEnv m_locale_messages { "LC_MESSAGES", std::nullopt };
    test::ScopedEnv m_lang { "LANG", "fr_FR.UTF-8" };
    LanguageTable m_table;

    WString folder() const { return m_dir.program_path(); }

    void write_language(std::string const& file, std::string const& title)
    {
        test::write_bytes(m_dir / file, "title=" + title + "\n");
    }

    WString loaded_title() const { return m_table.text(u"title"); }
};

}

TEST(LanguageParsing, key_and_text_are_split_at_equals_or_blanks)
{
    auto entries = LanguageTable::parse(u"title=Photo album\r\n"
                                        u"caption Photo album\n"
                                        u"odd =Photo\n"
                                        u"  spaced\t  text with trailing  \n"
                                        u"=no key\n"
                                        u"empty=\n"
                                        u"title=Replaced");
    EXPECT_EQ(entries[u"caption"], u"Photo album");
    EXPECT_EQ(entries[u"odd"], u"=Photo");
    EXPECT_EQ(entries[u"spaced"], u"text with trailing  ");
    EXPECT_EQ(entries[u"empty"], u"");
    EXPECT_EQ(entries[u"title"], u"Replaced");
    EXPECT_EQ(entries.count(u""), 0u);
    EXPECT_EQ(entries.size(), 5u);
}

TEST(LanguageParsing, a_key_alone_at_the_end_of_a_line_has_an_empty_text)
{
    auto entries = LanguageTable::parse(u"lonely\nnext value");
    EXPECT_EQ(entries[u"lonely"], u"");
    EXPECT_EQ(entries[u"next"], u"value");
}

TEST(LanguageParsing, system_locales_map_to_the_language_table)
{
    EXPECT_EQ(language_name_for_locale("ru_RU.UTF-8"), u"RUSSIAN");
    EXPECT_EQ(language_name_for_locale("de"), u"GERMAN");
    EXPECT_EQ(language_name_for_locale("nb_NO.UTF-8"), u"NORWEGIAN");
    EXPECT_EQ(language_name_for_locale("ne_NP"), u"NEPALI");
    EXPECT_EQ(language_name_for_locale("C"), u"");
    EXPECT_EQ(language_name_for_locale(""), u"");
    EXPECT_EQ(language_name_for_locale("gl_ES"), u"") << "an identifier the table has no name for";
}

TEST_F(LanguageTest, utf16_files_and_missing_keys)
{
    std::vector<unsigned char> bytes { 0xFF, 0xFE };
    for (char16_t c : std::u16string(u"Back=Назад\r\n"))
        bytes.insert(bytes.end(), { static_cast<unsigned char>(c & 0xFF), static_cast<unsigned char>(c >> 8) });
    test::write_bytes(m_dir / "russian.lng", bytes);
    ASSERT_TRUE(m_table.load(m_dir.program_path("russian.lng")));
    EXPECT_EQ(m_table.text(u"Back"), u"Назад");
    EXPECT_EQ(m_table.text(u"NoSuchKey"), u"NoSuchKey");
    EXPECT_FALSE(m_table.load(m_dir.program_path("missing.lng")));
    EXPECT_EQ(m_table.text(u"Back"), u"Назад") << "a failed load keeps the old language";
}

TEST_F(LanguageTest, the_remembered_language_wins)
{
    write_language("english.lng", "English");
    write_language("german.lng", "Deutsch");
    write_language("french.lng", "Francais");
    write_string(application_key(u"Quilvane"), u"Language", u"german");
    ASSERT_TRUE(choose_language(m_table, u"Quilvane", folder()));
    EXPECT_EQ(loaded_title(), u"Deutsch");
}

TEST_F(LanguageTest, then_the_system_language_matched_without_case)
{
    write_language("english.lng", "English");
    write_language("russian.lng", "Russian");
    test::ScopedEnv lang("LANG", "ru_RU.UTF-8");
    ASSERT_TRUE(choose_language(m_table, u"Quilvane", folder()));
    EXPECT_EQ(loaded_title(), u"Russian");
}

TEST_F(LanguageTest, then_english_then_any_file)
{
    write_language("english.lng", "English");
    write_language("abc.lng", "Abc");
    ASSERT_TRUE(choose_language(m_table, u"Quilvane", folder()));
    EXPECT_EQ(loaded_title(), u"English");

    std::filesystem::remove(m_dir / "english.lng");
    LanguageTable other;
    ASSERT_TRUE(choose_language(other, u"Quilvane", folder()));
    EXPECT_EQ(other.text(u"title"), u"Abc");

    std::filesystem::remove(m_dir / "abc.lng");
    LanguageTable none;
    EXPECT_FALSE(choose_language(none, u"Quilvane", folder()));
}

TEST_F(LanguageTest, selecting_a_language_loads_and_remembers_it)
{
    write_language("english.lng", "English");
    write_language("german.lng", "Deutsch");
    ASSERT_TRUE(choose_language(m_table, u"Quilvane", folder()));
    EXPECT_FALSE(select_language(m_table, u"Quilvane", u"Language#english", folder())) << "already active";
    EXPECT_FALSE(select_language(m_table, u"Quilvane", u"Exit", folder()));
    EXPECT_FALSE(select_language(m_table, u"Quilvane", u"Language#klingon", folder()));
    EXPECT_EQ(loaded_title(), u"English");

    ASSERT_TRUE(select_language(m_table, u"Quilvane", u"Language#german", folder()));
    EXPECT_EQ(loaded_title(), u"Deutsch");
    WString stored;
    ASSERT_TRUE(read_string(application_key(u"Quilvane"), u"Language", stored));
    EXPECT_EQ(stored, u"german");
}
