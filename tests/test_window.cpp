#include <gtest/gtest.h>

#include "KesDriver.h"
#include "TestSupport.h"
#include "kes_bat_ids.h"

using namespace kes_test;

TEST(Explore, Boxes) {
    TempDir dir;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    ASSERT_TRUE(tool.Start());
    for (int id = IDC_BEVEL1; id <= IDC_STATUSBAR_INFO; ++id) {
        RECT r = tool.Bounds(id);
        printf("%d: %ld %ld %ld %ld item %ld\n", id, r.left, r.top, r.right - r.left, r.bottom - r.top, (long)SendMessageA(tool.Control(id), CB_GETITEMHEIGHT, (WPARAM)-1, 0));
    }
    for (int h : {16, 14}) { SendMessageA(tool.Control(104), CB_SETITEMHEIGHT, (WPARAM)-1, h); RECT r = tool.Bounds(104); COMBOBOXINFO ci{}; ci.cbSize=sizeof ci; GetComboBoxInfo(tool.Control(104), &ci); printf("set %d: h %ld item %ld btn %ld %ld\n", h, r.bottom-r.top, (long)SendMessageA(tool.Control(104), CB_GETITEMHEIGHT, (WPARAM)-1, 0), ci.rcButton.top, ci.rcButton.bottom); }
    tool.PostMenu(IDM_ABOUT);
    TBox box = tool.ExpectBox();
    printf("caption [%s] text [%s] icon %u\n", box.Caption.c_str(), box.Text.c_str(), box.Icon);
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}
