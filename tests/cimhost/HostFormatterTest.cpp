#include "CimHost.h"
#include "HostFormatter.h"

#include <gtest/gtest.h>

using namespace cimhost;

namespace {

HostInstance Sample()
{
    HostInstance child;
    child.path.className = "Child";
    child.set("V", HostValue::Uint(CMPI_uint16, 5));
    HostInstance inst;
    inst.path.nameSpace = "root/cimv2";
    inst.path.className = "QAV_Display";
    inst.set("DeviceID", HostValue::String("a\"b\\c\n"));
    inst.set("Modes", HostValue::StringArray({"x", "y"}));
    inst.set("On", HostValue::Boolean(true));
    inst.set("Gone", HostValue::Null(CMPI_string));
    inst.set("Source", HostValue::Instance(child));
    inst.set("When", HostValue::DateTime(0));
    return inst;
}

TEST(HostFormatter, MofQuotesNestsAndKeepsOrder)
{
    EXPECT_EQ(HostFormatter::Mof(Sample()),
              "instance of QAV_Display\n"
              "{\n"
              "    DeviceID = \"a\\\"b\\\\c\\n\";\n"
              "    Modes = {\"x\", \"y\"};\n"
              "    On = TRUE;\n"
              "    Gone = NULL;\n"
              "    Source = instance of Child\n"
              "    {\n"
              "        V = 5;\n"
              "    };\n"
              "    When = \"19700101000000.000000+000\";\n"
              "};\n");
}

TEST(HostFormatter, JsonKeepsTypesAndNulls)
{
    nlohmann::json j = HostFormatter::Json(Sample());
    EXPECT_EQ(j["class"], "QAV_Display");
    EXPECT_EQ(j["properties"]["Modes"], nlohmann::json::array({"x", "y"}));
    EXPECT_TRUE(j["properties"]["Gone"].is_null());
    EXPECT_EQ(j["properties"]["Source"]["properties"]["V"], 5);
    HostStatus st;
    st.rc = CMPI_RC_ERR_NOT_FOUND;
    EXPECT_EQ(HostFormatter::Json(st)["name"], "CMPI_RC_ERR_NOT_FOUND");
    EXPECT_EQ(CimHost::RcName(7), "CMPI_RC_ERR_NOT_SUPPORTED");
    EXPECT_EQ(CimHost::RcName(999), "CMPI_RC_999");
}

} // namespace
