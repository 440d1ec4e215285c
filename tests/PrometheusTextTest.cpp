// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "PrometheusText.h"

#include <gtest/gtest.h>

namespace {

// The value of the sample line that starts with @p series, or "".
std::string sample(const std::string& text, const std::string& series)
{
    const size_t at = text.find("\n" + series + " ");
    if (at == std::string::npos)
        return std::string();
    const size_t start = at + series.size() + 2;
    return text.substr(start, text.find('\n', start) - start);
}

} // namespace

TEST(PrometheusText, ChecksSucceedOnlyWhenEveryVersionAndSourceWasKnown)
{
    using Refused = PrometheusText::Refused;
    const struct {
        const char* name;
        bool allowed;
        std::vector<Refused> refusals;
        const char* success;
    } cases[] = {
        {"allowed", true, {}, "1"},
        {"refused with known sources", false, {{"linear", "major-version-changed", "1.8.0", true}}, "1"},
        {"versions unknown", false, {{"hotfix", "versions-unknown", "", true}}, "0"},
        {"sources unknown", false, {{"linear", "major-version-changed", "1.8.0", false}}, "0"},
        {"one of several unknown",
         false,
         {{"linear", "major-version-changed", "1.8.0", true}, {"hotfix", "hotfix-not-allowed", "1.6.0.hotfix1", false}},
         "0"},
    };
    for (const auto& c : cases) {
        const std::string text = PrometheusText::verdict(c.allowed, "1.7.2", c.refusals);
        EXPECT_EQ(sample(text, "orvel_update_allowed"), c.allowed ? "1" : "0") << c.name;
        EXPECT_EQ(sample(text, "orvel_update_check_success"), c.success) << c.name;
        for (const Refused& refused : c.refusals)
            EXPECT_EQ(sample(text,
                             "orvel_update_refusals{check=\"" + refused.check + "\",rule=\"" + refused.rule
                                 + "\",version=\"" + refused.version + "\"}"),
                      "1")
                << c.name << "\n"
                << text;
    }
}

TEST(PrometheusText, LabelValuesKeepTheirTextWhole)
{
    EXPECT_EQ(PrometheusText::labelValue("1.6.0.hotfix\"\\x85\n"), "\"1.6.0.hotfix\\\"\\\\x85\\n\"");
    const std::string text = PrometheusText::verdict(false, "1.7\"2", {});
    EXPECT_EQ(sample(text, "orvel_update_installed_info{version=\"1.7\\\"2\"}"), "1") << text;
}

TEST(PrometheusText, UncheckedSaysNeitherAllowedNorChecked)
{
    const std::string text = "\n" + PrometheusText::unchecked();
    EXPECT_EQ(sample(text, "orvel_update_allowed"), "0");
    EXPECT_EQ(sample(text, "orvel_update_check_success"), "0");
    // The same HELP and TYPE lines as a verdict's, which promtool compares.
    const std::string verdict = PrometheusText::verdict(true, "1.7.2", {});
    EXPECT_EQ(verdict.substr(0, verdict.find("orvel_update_allowed 1")),
              PrometheusText::unchecked().substr(0, PrometheusText::unchecked().find("orvel_update_allowed 0")));
}
