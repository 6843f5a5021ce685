// The camera probe against fake device and video4linux trees.
#include <dirent.h>

#include <gtest/gtest.h>

#include "CameraProbe.h"
#include "CameraTestbed.h"

namespace {

using namespace camera_testbed;

// The nodes of the fake device folder in the order the probe reads them.
std::vector<std::string> DirectoryOrder(const fs::path& folder) {
  std::vector<std::string> names;
  DIR* directory = opendir(folder.c_str());
  while (const dirent* entry = readdir(directory)) names.push_back(entry->d_name);
  closedir(directory);
  return names;
}

struct Node {
  const char* name;
  std::string modalias;
};

struct ProbeCase {
  const char* what;
  std::vector<Node> nodes;
  const char* documentNode;  // null: absent
  const char* personNode;
};

TEST(CameraProbe, FindsEachCameraByItsUsbIdentity) {
  const ProbeCase cases[] = {
      {"both cameras",
       {{"video0", kDocumentCamera}, {"video2", kPersonCamera}},
       "video0",
       "video2"},
      {"no camera", {{"video0", Modalias("046D", "0825")}}, nullptr, nullptr},
      {"only the second person camera",
       {{"video4", kPersonCameraAlternative}, {"video0", Modalias("046D", "0825")}},
       nullptr,
       "video4"},
      {"a node numbered 12", {{"video12", kDocumentCamera}}, "video12", nullptr},
      {"a non-USB modalias",
       {{"video0", "pci:v00008086d00001234sv00sd00bc04sc00i00"}},
       nullptr,
       nullptr},
      {"a modalias too short", {{"video0", "usb:v0C45p636"}}, nullptr, nullptr},
      {"radio, vbi and subdevice nodes count",
       {{"radio1", kDocumentCamera}, {"v4l-subdev3", kPersonCamera}},
       "radio1",
       "v4l-subdev3"},
      {"other names and missing modaliases do not",
       {{"media0", kDocumentCamera}, {"videoX", ""}, {"hidraw0", kPersonCamera}},
       nullptr,
       nullptr},
  };
  for (const ProbeCase& c : cases) {
    SCOPED_TRACE(c.what);
    Workspace workspace(std::vector<std::string>{});
    for (const Node& node : c.nodes) workspace.addNode(node.name, node.modalias);
    for (const auto& [camNo, expected] :
         {std::pair{1, c.documentNode}, std::pair{2, c.personNode}}) {
      std::string name = "untouched";
      const int status = docscope::ProbeCamera(camNo, name);
      EXPECT_EQ(status, expected ? 0 : 1) << "camera " << camNo;
      EXPECT_EQ(name, expected ? workspace.node(expected).string() : "untouched")
          << "camera " << camNo;
    }
  }
}

TEST(CameraProbe, OfTwoNodesOfOneCameraTheLaterInDirectoryOrderWins) {
  Workspace workspace(std::vector<std::string>{});
  workspace.addNode("video0", kDocumentCamera);
  workspace.addNode("video1", Modalias("046D", "0825"));
  workspace.addNode("video10", kDocumentCamera);
  std::string later;
  for (const std::string& name : DirectoryOrder(workspace.root() / "dev")) {
    if (name == "video0" || name == "video10") later = name;
  }
  std::string found;
  ASSERT_EQ(docscope::ProbeCamera(1, found), 0);
  EXPECT_EQ(found, workspace.node(later).string());
}

TEST(CameraProbe, AnUnreadableDeviceFolderFindsNothing) {
  Workspace workspace(std::vector<std::string>{});
  setenv("COUNTERMATE_DEV_ROOT", (workspace.root() / "no-such-folder").c_str(), 1);
  std::string name;
  EXPECT_EQ(docscope::GetStatus("6366", "0C45", name), 1);
  EXPECT_TRUE(name.empty());
}

TEST(CameraProbe, TheDeviceNumberIsTheWholeTrailingNumber) {
  EXPECT_EQ(docscope::DeviceNumberText("/dev/video2"), "2");
  EXPECT_EQ(docscope::DeviceNumberText("/dev/video12"), "12");
  EXPECT_EQ(docscope::DeviceNumberText("/dev/video"), "");
}

}  // namespace
