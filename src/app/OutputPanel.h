#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

class OutputSettings;
class ClampingValidator;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QToolButton;
class UserDefaults;
class ZTStepper;

// The output controls under the preview: the document name, the format, the JPEG quality
// with its stepper, the size limit, transparency, metadata, the frame colour and the size
// of the file written last. Every control follows the settings model both ways; controls
// that mean nothing for the current format are disabled.
class OutputPanel : public QWidget {
    Q_OBJECT
public:
    OutputPanel(OutputSettings& settings, QWidget* parent = nullptr);

    QLineEdit* filenameField() const { return _filenameTF; }
    QComboBox* formatPopUp() const { return _formatPop; }
    QLineEdit* qualityField() const { return _qualityTF; }
    ZTStepper* qualityStepper() const { return _qualityStepper; }
    QCheckBox* limitFilesizeBox() const { return _limitBtn; }
    QLineEdit* filesizeLimitField() const { return _limitTF; }
    QCheckBox* transparentBackgroundBox() const { return _transparentBackgroundBtn; }
    QCheckBox* preserveMetadataBox() const { return _metadataBtn; }
    QToolButton* colorButton() const { return _colorBtn; }
    QLabel* filesizeField() const { return _filesizeTF; }
    QProgressBar* progressIndicator() const { return _progressIndicator; }

    // The swatch shows the frame colour, or a crossed-out square for none.
    void setSwatchColor(const std::optional<QColor>& color);
    // Takes what is typed in the quality and size-limit fields, confirmed or not, mended to
    // their ranges: an export uses what the fields show.
    void commitEditing();
    // Said by the size display's tooltip (empty: the usual tooltip).
    void setQualityNote(const QString& note);

signals:
    void colorButtonClicked();

private:
    void _build();
    void _bind();
    void _commitQuality();
    void _commitFilesizeLimit();
    void _updateEnabled();

    OutputSettings& _settings;
    UserDefaults& _defaults;
    QLineEdit* _filenameTF = nullptr;
    QComboBox* _formatPop = nullptr;
    QLineEdit* _qualityTF = nullptr;
    ClampingValidator* _qualityValidator = nullptr;
    ZTStepper* _qualityStepper = nullptr;
    QCheckBox* _limitBtn = nullptr;
    QLineEdit* _limitTF = nullptr;
    ClampingValidator* _limitValidator = nullptr;
    QLabel* _limitUnit = nullptr;
    QCheckBox* _transparentBackgroundBtn = nullptr;
    QCheckBox* _metadataBtn = nullptr;
    QToolButton* _colorBtn = nullptr;
    QLabel* _filesizeTF = nullptr;
    QProgressBar* _progressIndicator = nullptr;
};
