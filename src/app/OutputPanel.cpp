#include "OutputPanel.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "output/OutputSettings.h"
#include "ui/ClampingValidator.h"
#include "ui/FlowLayout.h"
#include "ui/PopUpByTag.h"
#include "ui/ZTStepper.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <initializer_list>
#include <iterator>

namespace {
constexpr int kMaxLimitKB = 1024 * 1024; // 1 GB; the writer shifts the value by 10 bits

QLabel* makeLabel(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}
} // namespace

OutputPanel::OutputPanel(OutputSettings& settings, QWidget* parent)
    : QWidget(parent), _settings(settings), _defaults(settings.userDefaults())
{
    _build();
    _bind();
}

void OutputPanel::_build()
{
    _filenameTF = new QLineEdit(this);
    _filenameTF->setObjectName(QStringLiteral("filenameTF"));
    _filenameTF->setPlaceholderText(tr("No photo"));
    _filenameTF->setToolTip(tr("The name of the framed photo"));
    _filenameTF->setMinimumWidth(120);

    _formatPop = new QComboBox(this);
    _formatPop->setObjectName(QStringLiteral("fileFormatPop"));
    _formatPop->addItem(QStringLiteral("JPEG"), codeForFileFormat(FileFormat::Jpeg));
    _formatPop->addItem(QStringLiteral("PNG"), codeForFileFormat(FileFormat::Png));
    _formatPop->addItem(QStringLiteral("TIFF"), codeForFileFormat(FileFormat::Tiff));
    _formatPop->addItem(QStringLiteral("WebP"), codeForFileFormat(FileFormat::WebP));
    _formatPop->addItem(QStringLiteral("AVIF"), codeForFileFormat(FileFormat::Avif));

    _qualityTF = new QLineEdit(this);
    _qualityTF->setObjectName(QStringLiteral("qualityTF"));
    _qualityValidator = new ClampingValidator(
        OutputSettings::MinQuality, OutputSettings::MaxQuality,
        [this] { return _settings.jpegQuality(); }, _qualityTF);
    _qualityTF->setValidator(_qualityValidator);
    _qualityTF->setAlignment(Qt::AlignRight);
    _qualityTF->setMaximumWidth(
        _qualityTF->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 16);
    _qualityStepper = new ZTStepper(this);
    _qualityStepper->setObjectName(QStringLiteral("qualityStepper"));
    _qualityStepper->setRange(OutputSettings::MinQuality, OutputSettings::MaxQuality);
    _qualityStepper->setIncrement(OutputSettings::QualityIncrement);

    _limitBtn = new QCheckBox(tr("Limit to"), this);
    _limitBtn->setObjectName(QStringLiteral("limitFilesizeBtn"));
    _limitTF = new QLineEdit(this);
    _limitTF->setObjectName(QStringLiteral("filesizeLimitTF"));
    _limitValidator = new ClampingValidator(
        1, kMaxLimitKB, [this] { return _settings.filesizeLimit(); }, _limitTF);
    _limitTF->setValidator(_limitValidator);
    _limitTF->setAlignment(Qt::AlignRight);
    _limitTF->setMaximumWidth(_limitTF->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) +
                              16);
    _limitUnit = new QLabel(tr("KB"), this);

    _transparentBackgroundBtn = new QCheckBox(tr("Transparent background"), this);
    _transparentBackgroundBtn->setObjectName(QStringLiteral("transparentBackgroundBtn"));
    _metadataBtn = new QCheckBox(tr("Keep metadata"), this);
    _metadataBtn->setObjectName(QStringLiteral("preserveMetadataBtn"));
    _metadataBtn->setToolTip(tr("Copy the photo's EXIF, IPTC and XMP data into the framed photo"));

    _colorBtn = new QToolButton(this);
    _colorBtn->setObjectName(QStringLiteral("colorBtn"));
    _colorBtn->setText(tr("Color"));
    _colorBtn->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    _colorBtn->setToolTip(tr("Choose the frame color"));
    connect(_colorBtn, &QToolButton::clicked, this, &OutputPanel::colorButtonClicked);

    _filesizeTF = new QLabel(this);
    _filesizeTF->setObjectName(QStringLiteral("filesizeTF"));
    _filesizeTF->setMinimumWidth(
        _filesizeTF->fontMetrics().horizontalAdvance(QStringLiteral("1024.00 KB")));
    _filesizeTF->setToolTip(tr("Size of the file written last"));

    _progressIndicator = new QProgressBar(this);
    _progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
    _progressIndicator->setRange(0, 0);
    _progressIndicator->setTextVisible(false);
    _progressIndicator->setMaximumWidth(90);
    QSizePolicy keepPlace = _progressIndicator->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    _progressIndicator->setSizePolicy(keepPlace);
    _progressIndicator->hide();

    // What assistive technology reads for each control; a label beside a control names it
    // only on the screen.
    const auto describe = [](QWidget* control, const QString& name, const QString& description) {
        control->setAccessibleName(name);
        control->setAccessibleDescription(description);
    };
    describe(_filenameTF, tr("Name"), tr("The name of the framed photo"));
    describe(_formatPop, tr("Format"), tr("The file format the framed photo is written in"));
    describe(_qualityTF, tr("Quality"), tr("The quality of lossy formats, from 1 to 100"));
    describe(_qualityStepper, tr("Quality stepper"), tr("Raises or lowers the quality"));
    describe(_filesizeTF, tr("Size"), tr("Size of the file written last"));
    describe(_colorBtn, tr("Frame color"), tr("Choose the frame color"));
    describe(_transparentBackgroundBtn, tr("Transparent background"),
             tr("Leave the background transparent instead of the frame color"));
    describe(_metadataBtn, tr("Keep metadata"),
             tr("Copy the photo's EXIF, IPTC and XMP data into the framed photo"));
    describe(_limitBtn, tr("Limit file size"),
             tr("Lower the quality until the file fits the size limit"));
    describe(_limitTF, tr("File size limit in kilobytes"),
             tr("The largest file size the quality is lowered for"));
    describe(_progressIndicator, tr("Writing"), tr("Shown while the framed photo is written"));

    // Each label stays with its control when a narrow window wraps the line.
    const auto group = [this](std::initializer_list<QWidget*> members) {
        auto* box = new QWidget(this);
        auto* line = new QHBoxLayout(box);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(4);
        for (QWidget* member : members)
            line->addWidget(member);
        return box;
    };

    // First line: what is written and how big it came out; the name field takes the room
    // left. Then how it looks and the limit, wrapped as the width requires.
    auto* rowName = new QHBoxLayout;
    rowName->setSpacing(8);
    rowName->addWidget(makeLabel(tr("Name:"), _filenameTF, this));
    rowName->addWidget(_filenameTF, 1);
    rowName->addSpacing(8);
    rowName->addWidget(makeLabel(tr("Size:"), _filesizeTF, this));
    rowName->addWidget(_filesizeTF);

    auto* flow = new FlowLayout(nullptr, 14, 6);
    flow->addWidget(group({makeLabel(tr("Format:"), _formatPop, this), _formatPop}));
    flow->addWidget(
        group({makeLabel(tr("Quality:"), _qualityTF, this), _qualityTF, _qualityStepper}));
    flow->addWidget(_colorBtn);
    flow->addWidget(_transparentBackgroundBtn);
    flow->addWidget(_metadataBtn);
    flow->addWidget(group({_limitBtn, _limitTF, _limitUnit}));
    flow->addWidget(_progressIndicator);

    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(10, 6, 10, 8);
    rows->setSpacing(6);
    rows->addLayout(rowName);
    rows->addLayout(flow);

    // The tab key follows the lines as they read.
    QWidget* order[] = {_filenameTF,     _formatPop, _qualityTF,
                        _qualityStepper, _colorBtn,  _transparentBackgroundBtn,
                        _metadataBtn,    _limitBtn,  _limitTF};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void OutputPanel::_bind()
{
    // From the model to the controls.
    auto showFormat = [this](FileFormat format) {
        QSignalBlocker block(_formatPop);
        PopUpByTag::selectItemWithTag(_formatPop, codeForFileFormat(format));
        _updateEnabled();
    };
    auto showQuality = [this](int quality) {
        _qualityTF->setText(QString::number(quality));
        _qualityStepper->setValue(quality);
    };
    auto showLimit = [this](bool) {
        QSignalBlocker block(_limitBtn);
        _limitBtn->setChecked(_settings.limitFilesize());
        _updateEnabled();
    };
    auto showLimitKB = [this] { _limitTF->setText(QString::number(_settings.filesizeLimit())); };
    auto showTransparent = [this](bool) {
        QSignalBlocker block(_transparentBackgroundBtn);
        _transparentBackgroundBtn->setChecked(_settings.transparentBackground());
    };
    auto showMetadata = [this](bool) {
        QSignalBlocker block(_metadataBtn);
        _metadataBtn->setChecked(_settings.preserveMetadata());
    };
    connect(&_settings, &OutputSettings::fileFormatChanged, this, showFormat);
    connect(&_settings, &OutputSettings::jpegQualityChanged, this, showQuality);
    connect(&_settings, &OutputSettings::limitFilesizeChanged, this, showLimit);
    connect(&_settings, &OutputSettings::transparentBackgroundChanged, this, showTransparent);
    connect(&_settings, &OutputSettings::preserveMetadataChanged, this, showMetadata);
    // The size limit and its switch can change in the settings without a setter.
    _defaults.addObserver({DefFilesizeLimit, DefLimitFilesize}, this,
                          [showLimitKB, showLimit](const QString&, const QVariant&) {
                              showLimitKB();
                              showLimit(true);
                          });

    // From the controls to the model.
    connect(_formatPop, &QComboBox::currentIndexChanged, this, [this] {
        _settings.setFileFormat(fileFormatForCode(
            PopUpByTag::selectedTag(_formatPop, codeForFileFormat(FileFormat::Jpeg))));
    });
    connect(_qualityTF, &QLineEdit::editingFinished, this, &OutputPanel::_commitQuality);
    // Every step shows at once, also while an arrow is held down.
    connect(_qualityStepper, &ZTStepper::valueChanged, this,
            [this](int value) { _qualityTF->setText(QString::number(value)); });
    connect(_qualityStepper, &ZTStepper::targetActionRequested, this, &OutputPanel::_commitQuality);
    connect(_limitBtn, &QCheckBox::toggled, this,
            [this](bool on) { _settings.setLimitFilesize(on); });
    connect(_limitTF, &QLineEdit::editingFinished, this, &OutputPanel::_commitFilesizeLimit);
    connect(_transparentBackgroundBtn, &QCheckBox::toggled, this,
            [this](bool on) { _settings.setTransparentBackground(on); });
    connect(_metadataBtn, &QCheckBox::toggled, this,
            [this](bool on) { _settings.setPreserveMetadata(on); });

    showFormat(_settings.fileFormat());
    showQuality(_settings.jpegQuality());
    showLimitKB();
    showLimit(true);
    showTransparent(true);
    showMetadata(true);
}

void OutputPanel::_commitQuality()
{
    const int quality = _qualityValidator->mended(_qualityTF->text());
    _qualityTF->setText(QString::number(quality));
    _qualityStepper->setValue(quality);
    if (quality != _settings.jpegQuality())
        _settings.setJpegQuality(quality);
}

void OutputPanel::_commitFilesizeLimit()
{
    const int limit = _limitValidator->mended(_limitTF->text());
    _limitTF->setText(QString::number(limit));
    if (limit != _settings.filesizeLimit())
        _defaults.setInteger(limit, DefFilesizeLimit);
}

void OutputPanel::commitEditing()
{
    _commitQuality();
    _commitFilesizeLimit();
}

void OutputPanel::setQualityNote(const QString& note)
{
    _filesizeTF->setToolTip(note.isEmpty() ? tr("Size of the file written last") : note);
}

void OutputPanel::_updateEnabled()
{
    const bool lossy = _settings.lossyFormat();
    _qualityTF->setEnabled(lossy);
    _qualityStepper->setEnabled(lossy);
    _limitBtn->setEnabled(lossy);
    _limitTF->setEnabled(lossy && _settings.limitFilesize());
    _limitUnit->setEnabled(lossy && _settings.limitFilesize());
    _transparentBackgroundBtn->setEnabled(_settings.transparentBackgroundSupported());
    _metadataBtn->setEnabled(_settings.metadataSupported());
}

void OutputPanel::setSwatchColor(const std::optional<QColor>& color)
{
    // At the screen's own density, so that the swatch's edge stays a thin line.
    const qreal ratio = devicePixelRatioF();
    QPixmap swatch(QSize(20, 14) * ratio);
    swatch.setDevicePixelRatio(ratio);
    swatch.fill(Qt::transparent);
    QPainter painter(&swatch);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0.5, 0.5, 19, 13);
    if (color) {
        painter.fillRect(box, *color);
    } else {
        // No colour: the field's own colour struck through.
        painter.fillRect(box, palette().color(QPalette::Base));
        painter.setPen(QPen(QColor(0xd0, 0x30, 0x30), 1.5));
        painter.drawLine(box.bottomLeft(), box.topRight());
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(box);
    painter.end();
    _colorBtn->setIcon(QIcon(swatch));
}
