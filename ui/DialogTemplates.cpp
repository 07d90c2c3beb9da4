#include "ui/DialogTemplates.h"

#include <array>

namespace qv {

namespace {

using K = CtlKind;

// In tab order. Captions of controls with an id come from the string table.
constexpr std::array kMainControls{
    CtlTemplate{157, K::GroupBox, 7, 4, 409, 48, 0, nullptr, nullptr},
    CtlTemplate{kCtlEmptyPathCombo, K::ComboEdit, 14, 16, 395, 14, 0, nullptr, nullptr},
    CtlTemplate{kCtlOpenImageButton, K::PushButton, 277, 34, 58, 14, 0, nullptr, nullptr},
    CtlTemplate{kCtlSelectByDialogButton, K::PushButton, 339, 34, 70, 14, 0, nullptr, nullptr},
    CtlTemplate{kNoId, K::Label, 14, 37, 258, 8, 0, "* Specify empty string, if you do not use",
                "※ 使用しない場合には、空白にしてください"},

    CtlTemplate{kNoId, K::GroupBox, 7, 56, 258, 120, 0, "Options", "原稿オプション"},
    CtlTemplate{kNoId, K::Label, 14, 70, 122, 8, 0, "&Edges for trim:", "切り取る端(&E):"},
    CtlTemplate{kCtlTrimEdgesCombo, K::ComboList, 138, 68, 120, 14, 0, nullptr, nullptr},
    CtlTemplate{kNoId, K::Label, 14, 88, 122, 8, 0,
                "Edge for automatic &Rotation:", "自動回転に使用する原稿の端(&R):"},
    CtlTemplate{kCtlRotateCombo, K::ComboList, 138, 86, 120, 14, 0, nullptr, nullptr},
    CtlTemplate{kCtlDeepCutCheck, K::CheckBox, 14, 104, 244, 10, 0, nullptr, nullptr},
    CtlTemplate{kCtlOutputSizeCheck, K::CheckBox, 14, 120, 76, 10, 0, nullptr, nullptr},
    CtlTemplate{kCtlOutputCxEdit, K::Edit, 92, 118, 40, 13, CtlRight, nullptr, nullptr},
    CtlTemplate{kNoId, K::Label, 135, 120, 8, 8, 0, "×", "×"},
    CtlTemplate{kCtlOutputCyEdit, K::Edit, 145, 118, 40, 13, CtlRight, nullptr, nullptr},
    CtlTemplate{kNoId, K::Label, 92, 134, 166, 8, 0, "* Only for trimming",
                "※トリミング用、拡縮されません"},
    CtlTemplate{kCtlAdditionalTrimCheck, K::CheckBox, 14, 146, 120, 10, 0, nullptr, nullptr},
    CtlTemplate{kNoId, K::Label, 26, 162, 40, 8, 0, "&Vertical:", "左右(&V):"},
    CtlTemplate{kCtlTrimCxEdit, K::Edit, 68, 160, 40, 13, CtlRight, nullptr, nullptr},
    CtlTemplate{kNoId, K::Label, 116, 162, 50, 8, 0, "&Horizontal:", "上下(&H):"},
    CtlTemplate{kCtlTrimCyEdit, K::Edit, 168, 160, 40, 13, CtlRight, nullptr, nullptr},

    CtlTemplate{kNoId, K::GroupBox, 7, 180, 258, 44, 0, "Save location", "保存場所"},
    CtlTemplate{kNoId, K::Label, 14, 192, 244, 8, 0,
                "&Create subfolder: ", "ファイルのあるフォルダの下に子フォルダ(&C):"},
    CtlTemplate{kCtlSubFolderCombo, K::ComboEdit, 14, 204, 100, 14, 0, nullptr, nullptr},
    CtlTemplate{kNoId, K::Label, 118, 207, 140, 8, 0, "in a folder with dropped-files",
                "を作成して保存"},

    CtlTemplate{kNoId, K::GroupBox, 7, 228, 176, 46, 0, "Save image type", "保存形式"},
    CtlTemplate{kCtlBmpRadio, K::RadioButton, 14, 241, 34, 10, 0, nullptr, nullptr},
    CtlTemplate{kCtlPngRadio, K::RadioButton, 52, 241, 34, 10, 0, nullptr, nullptr},
    CtlTemplate{kCtlTiffRadio, K::RadioButton, 90, 241, 36, 10, 0, nullptr, nullptr},
    CtlTemplate{kCtlJpegRadio, K::RadioButton, 130, 241, 40, 10, 0, nullptr, nullptr},
    CtlTemplate{kNoId, K::Label, 14, 259, 36, 8, 0, "&Quality:", "画質(&Q):"},
    CtlTemplate{kCtlJpegQualityEdit, K::Edit, 52, 257, 26, 13, CtlDigits, nullptr, nullptr},
    CtlTemplate{kCtlJpegPresetCombo, K::ComboList, 82, 256, 94, 14, 0, nullptr, nullptr},

    CtlTemplate{kNoId, K::GroupBox, 187, 228, 78, 46, 0, "Advanced option", "高度なオプション"},
    CtlTemplate{kNoId, K::Label, 194, 242, 64, 8, 0, "Threads:", "スレッド数:"},
    CtlTemplate{kCtlThreadCombo, K::ComboEdit, 194, 254, 40, 14, 0, nullptr, nullptr},

    CtlTemplate{kCtlPreviewFrame, K::Frame, 272, 58, 144, 150, 0, nullptr, nullptr},
    CtlTemplate{kNoId, K::Label, 272, 214, 24, 8, 0, "Size:", "サイズ:"},
    CtlTemplate{kCtlResultWidthEdit, K::Edit, 298, 212, 42, 13, CtlRight | CtlReadOnly, nullptr,
                nullptr},
    CtlTemplate{kNoId, K::Label, 343, 214, 8, 8, 0, "×", "×"},
    CtlTemplate{kCtlResultHeightEdit, K::Edit, 353, 212, 42, 13, CtlRight | CtlReadOnly, nullptr,
                nullptr},
    CtlTemplate{kCtlSizeToOutputAddCombo, K::ComboEdit, 272, 230, 36, 14, 0, nullptr, nullptr},
    CtlTemplate{kCtlUseAsOutputSizeButton, K::PushButton, 312, 230, 104, 14, 0, nullptr, nullptr},
    CtlTemplate{kCtlStatusText, K::Label, 7, 277, 335, 8, 0, nullptr, nullptr},
    CtlTemplate{kCtlStopButton, K::PushButton, 272, 250, 70, 14, CtlDefault | CtlDisabled, nullptr,
                nullptr},
    CtlTemplate{kCtlOpenFolderButton, K::PushButton, 346, 250, 70, 14, CtlDisabled, nullptr,
                nullptr},
    CtlTemplate{kCtlAboutButton, K::PushButton, 346, 266, 70, 14, 0, nullptr, nullptr},
    CtlTemplate{kCtlProgress, K::ProgressBar, 7, 287, 409, 10, 0, nullptr, nullptr},
};

constexpr std::array kAboutControls{
    CtlTemplate{kNoId, K::Icon, 10, 10, 21, 20, 0, nullptr, nullptr},
    CtlTemplate{kCtlProductLine, K::Label, 40, 10, 285, 8, 0, nullptr, nullptr},
    CtlTemplate{kCtlLegalNotice, K::Label, 40, 22, 285, 8, 0, "Copyright (C) Kelvaro",
                "Copyright (C) Kelvaro"},
    CtlTemplate{kNoId, K::GroupBox, 7, 38, 318, 46, 0, "", ""},
    CtlTemplate{kNoId, K::Label, 14, 50, 304, 8, 0,
                "Homepage shows more details:", "詳しくはホームページをご覧ください"},
    CtlTemplate{kCtlHomePageLink, K::Label, 14, 64, 304, 10, CtlLink,
                "https://kelvaro.example/quorvel/", "https://kelvaro.example/ja/quorvel/"},
    CtlTemplate{kCtlOk, K::PushButton, 275, 92, 50, 14, CtlDefault, nullptr, nullptr},
};

}  // namespace

const DialogTemplate& MainDlgTemplate() {
    static const DialogTemplate tmpl{423, 301, 138, kMainControls};
    return tmpl;
}

const DialogTemplate& AboutDlgTemplate() {
    static const DialogTemplate tmpl{332, 113, 137, kAboutControls};
    return tmpl;
}

}  // namespace qv
