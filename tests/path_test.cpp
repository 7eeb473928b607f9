// The row cells are joined from their pieces by plain copies. These cases
// pin the two rules those copies must keep: a path over its field is never
// probed, and the status and description cell is cut at its end.
#include "app_data.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

// The app icon path holds 4095 bytes; one more and it is not probed, even
// when a file bears the name cut to the field.
TEST(PathJoin, AppIconPathAtTheEdgeOfItsField)
{
    const DataDir data;
    const std::size_t frame =
        data.root.size() + std::strlen("/apps/") + std::strlen("/icon-24.png");
    const std::string fits = nested_name(4095 - frame);
    const std::string over = nested_name(4096 - frame);
    data.make({{"apps/" + fits + "/icon-24.png", "png"}, {"apps/" + over + "/icon-24.pn", "png"}});

    const struct {
        const char *name;
        std::string app;
        std::string out;
        std::string err;
    } cases[] = {
        {"4095 bytes", fits, data.path("apps/" + fits + "/icon-24.png"), ""},
        {"4096 bytes", over, "", no_icon(over)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> out(kAppIconSize, 'X');
        str_zero(out.data());
        testing::internal::CaptureStderr();
        get_app_icon(data.root, c.app, out.data(), out.size());
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(std::string(out.data()), c.out);
    }
}

// "(%s) %s" into a field of size bytes: the first size - 1 bytes of the
// whole text, and not one byte written past the field.
TEST(PathJoin, StatusAndDescriptionCellIsCutToItsField)
{
    const DataDir data;
    data.make(app("app", "installed", "Edits text") +
              app("long", "installed", std::string(10 << 20, 'x')));
    const struct {
        std::string app;
        std::vector<std::uint64_t> sizes;
        std::string whole;
    } cases[] = {
        // Around the status, its ") " and the description's ends.
        {"app", {1, 2, 11, 12, 13, 22, 23, 24, 4096}, "(installed) Edits text"},
        // The description buffer takes 4095 bytes of a 10 MiB first line.
        {"long", {4096}, "(installed) " + std::string(4095, 'x')},
    };
    for (const auto &c : cases)
        for (const std::uint64_t size : c.sizes) {
            SCOPED_TRACE(c.app + " " + std::to_string(size));
            std::vector<char> out(size + 8, 'X');
            str_zero(out.data());
            get_app_status_and_desc(data.root, c.app, out.data(), size);
            EXPECT_EQ(std::string(out.data()), c.whole.substr(0, size - 1));
            for (std::size_t i = size; i < out.size(); ++i)
                ASSERT_EQ(out[i], 'X') << "byte " << i;
        }
}

} // namespace
