#include "web/PersistentJson.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "web/WebDateFormats.h"

namespace velloran::web {
namespace {

TEST(PersistentJsonTest, NumberText) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {12.0, "12"},
      {-3.0, "-3"},
      {0.5, "0.5"},
      {0.1, "0.1"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {123456789012345.0, "123456789012345"},
      {1234567890123456.0, "1.23456789012346E15"},
      {1e15, "1E15"},
      {1e20, "1E20"},
      {-2.5e-7, "-2.5E-7"},
      {0.00001, "0.00001"},
      {0.000001, "1E-6"},
      {1.5e300, "1.5E300"},
      {4294967295.0, "4294967295"},
      {std::nan(""), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatJsonNumber(c.value), c.text) << c.value;
  }
}

TEST(PersistentJsonTest, StringEscapes) {
  struct Case {
    std::string text;
    const char* json;
  };
  const Case cases[] = {
      {"a/b", "\"a\\/b\""},
      {"caf\xC3\xA9", "\"caf\\u00e9\""},
      {"\b\t\n\f\r\"\\", "\"\\b\\t\\n\\f\\r\\\"\\\\\""},
      {std::string("\x01\x1F", 2), "\"\\u0001\\u001f\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x7F", "\"\x7F\""},                           // DEL is printable ASCII here
      {"\xE2\x82\xAC", "\"\\u20ac\""},                // euro sign
      {"\xF0\x9F\x8E\xB5", "\"\\ud83c\\udfb5\""},     // outside the basic plane
      {"\xE9t\xC3", "\"\\ufffdt\\ufffd\""},           // bytes that are not UTF-8
      {"\xC0\xAF", "\"\\ufffd\\ufffd\""},             // overlong slash
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // an encoded surrogate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QuoteJsonString(c.text, true), c.json) << c.text;
  }
  EXPECT_EQ(QuoteJsonString("a/b\xC3\xA9", false), "\"a/b\xC3\xA9\"");
}

TEST(PersistentJsonTest, LayoutOfNestedNodes) {
  auto root = TPersistentObject::Create();
  root->SetNumber("ID", 0);
  root->SetString("Name", "Studio/1");
  root->SetBoolean("Recording", true);
  root->SetNull("Error");
  auto list = TPersistentArray::Create();
  list->Add(TPersistentNode::Number(1.5));
  list->Add(TPersistentNode::Boolean(false));
  auto inner = TPersistentObject::Create();
  inner->SetString("k", "v");
  list->Add(inner);
  list->Add(TPersistentArray::Create());
  list->Add(TPersistentObject::Create());
  root->SetNode("List", list);
  root->SetNumber("ID", 7);  // a key set again keeps its place

  EXPECT_EQ(root->AsJSon(true, true),
            "{\r\n"
            " \"ID\": 7,\r\n"
            " \"Name\": \"Studio\\/1\",\r\n"
            " \"Recording\": true,\r\n"
            " \"Error\": null,\r\n"
            " \"List\": [1.5,false,{\r\n"
            "   \"k\": \"v\"\r\n"
            "  },[],{}]\r\n"
            "}");
  EXPECT_EQ(root->AsJSon(false, false),
            "{\"ID\":7,\"Name\":\"Studio/1\",\"Recording\":true,\"Error\":null,"
            "\"List\":[1.5,false,{\"k\":\"v\"},[],{}]}");
  EXPECT_EQ(TPersistentObject::Create()->AsJSon(true, true), "{}");
  EXPECT_EQ(TPersistentArray::Create()->AsJSon(true, true), "[]");
}

TEST(PersistentJsonTest, NodesAreSharedAndFreedWithTheirLastHolder) {
  std::weak_ptr<TPersistentNode> watch;
  {
    auto shared = TPersistentObject::Create();
    watch = shared;
    auto a = TPersistentArray::Create();
    auto b = TPersistentArray::Create();
    a->Add(shared);
    b->Add(shared);
    shared.reset();
    EXPECT_FALSE(watch.expired());
  }
  EXPECT_TRUE(watch.expired());
}

TEST(WebDateFormatsTest, FixedSeparators) {
  const TDateTime value = EncodeDateTime(2019, 8, 26, 14, 5, 0, 7);
  EXPECT_EQ(FormatLocalIsoDateTime(value), "2019-08-26T14:05:00");
  EXPECT_EQ(FormatUsDateTime(value), "08/26/2019 14:05:00");
  EXPECT_EQ(FormatUtcIsoDateTime(value), "2019-08-26T14:05:00.007Z");
  EXPECT_EQ(FormatUtcIsoDateTime(EncodeDateTime(2019, 8, 26, 12, 5, 0, 0)),
            "2019-08-26T12:05:00.000Z");
}

}  // namespace
}  // namespace velloran::web
