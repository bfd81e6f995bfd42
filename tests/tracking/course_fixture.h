#pragma once
// A three-SCO course on the fake platform, read from a real manifest text.

#include "tracking/Parcours.h"
#include "util/fake_env.h"

namespace zept::testing {

inline constexpr char kManifest[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<manifest identifier="course-42" xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_rootv1p2">
  <organizations default="org1">
    <organization identifier="org1">
      <title>Organisation title</title>
      <item identifier="i1" href="SCO_0001/player.swf">
        <title>Plain title</title>
        <adlcp:masteryscore>80</adlcp:masteryscore>
        <metadata><lom:lom><lom:general>
          <lom:title>
            <lom:langstring xml:lang="en"><![CDATA[Unit 1: Basics]]></lom:langstring>
            <lom:langstring xml:lang="fr"><![CDATA[Unité 1]]></lom:langstring>
          </lom:title>
          <lom:description>
            <lom:langstring><![CDATA[First steps]]></lom:langstring>
          </lom:description>
        </lom:general></lom:lom></metadata>
        <item identifier="nested"><title>Not a SCO</title></item>
      </item>
      <item identifier="i2"><title>Unit 2</title></item>
      <item>
        <title>Quiz &amp; test</title>
        <adlcp:masteryscore>50</adlcp:masteryscore>
      </item>
      <metadata><lom:lom><lom:general>
        <lom:title><lom:langstring><![CDATA[Course title]]></lom:langstring></lom:title>
      </lom:general></lom:lom></metadata>
    </organization>
  </organizations>
</manifest>
)";

struct CourseEnv : FakeEnv {
  TParcours parcours;
  static constexpr char16_t kManifestPath[] = u"C:\\cd\\imsmanifest.xml";

  CourseEnv() {
    fake.files.addFile(kManifestPath, kManifest);
    parcours.LoadManifest(ctx, kManifestPath);
  }
};

}  // namespace zept::testing
