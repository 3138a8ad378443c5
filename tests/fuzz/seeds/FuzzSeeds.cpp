// fuzz-seeds DIR: writes the seed corpus of every fuzz target into DIR/<target>/, made by the
// project's own tools: make-model's tokenizer and checkpoint writers, the model folder writer, the
// audio layer's encoders, the loopback hub's listing form, and the recording and cloud encoders.

#include "../FuzzSupport.hpp"
#include "../FuzzTokenizers.hpp"
#include "platform/audio/AudioFileWriter.hpp"
#include "platform/audio/LibraryEncoder.hpp"
#include "platform/cloud/ServerChangeToken.hpp"
#include "platform/cloud/server/FieldText.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/compiler/WhisperModelSet.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"
#include "tools/make-model/WhisperCheckpoint.hpp"

#ifdef PARLINO_FUZZ_QT
#include "app/recorder/RecordingCoding.hpp"
#include <QTimeZone>
#endif

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <numbers>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

fs::path output;

void seed(const std::string& target, const std::string& name, std::string_view bytes)
{
    fs::create_directories(output / target);
    fuzzsupport::writeFile(output / target / name, bytes);
}

std::string fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

ml::WhisperShape tinyShape()
{
    ml::WhisperShape shape;
    shape.melCount = 4;
    shape.vocabularySize = 16;
    shape.width = 8;
    shape.audioLayers = 1;
    shape.audioHeads = 2;
    shape.textLayers = 1;
    shape.textHeads = 2;
    shape.audioSamples = 640;
    shape.textContext = 4;
    shape.cacheLength = 4;
    return shape;
}

void tokenizerSeeds()
{
    for (const auto& files : {fuzztokenizers::whisperBpe(), fuzztokenizers::bertWordPiece(), fuzztokenizers::t5Unigram()}) {
        seed("tokenizer_files", files.name, fuzzsupport::joinTwo(files.config.dump(), files.data.dump()));
        // The lookups of the configuration target walk the same documents.
        seed("config", files.name, fuzzsupport::joinTwo("model\nvocab\naddedTokens\nnormalizer\ntype", files.data.dump()));
    }
    seed("config", "tokenizer-config", fuzzsupport::joinTwo("tokenizerClass\nunkToken\ncontent", fuzztokenizers::bertWordPiece().config.dump()));
    for (std::size_t i = 0; i < fuzztokenizers::sampleTexts().size(); ++i) {
        for (const char* target : {"bpe", "wordpiece", "unigram"}) {
            seed(target, "text-" + std::to_string(i), fuzztokenizers::sampleTexts()[i]);
        }
    }
}

void modelSeeds(const fs::path& scratch)
{
    ml::WhisperModelSet::write(scratch / "set", tinyShape(), ml::MultiArrayDataType::float16, ml::randomWhisperWeights(1));
    for (const char* model : {ml::WhisperModelSet::melFolderName, ml::WhisperModelSet::encoderFolderName, ml::WhisperModelSet::decoderFolderName}) {
        seed("model_description", model, fileBytes(scratch / "set" / model / ml::ModelFolder::descriptionFileName));
    }
    ml::ModelDescription description;
    description.inputs.push_back({"x", ml::MultiArrayDataType::float32, {2, 2}});
    description.outputs.push_back({"y", ml::MultiArrayDataType::float32, {2, 2}});
    description.metadata["author"] = "fuzz-seeds";
    ml::ModelFolderWriter scale("scale", {{"factor", 2.0}}, description);
    scale.addTensor("bias", {2, 2}, {0.5f, -1.0f, 0.0f, 10.0f});
    scale.write(scratch / "Scale.mlmodelc");
    seed("model_description", "scale", fileBytes(scratch / "Scale.mlmodelc" / ml::ModelFolder::descriptionFileName));

    // Weight tables: blob size, tensor count, then per tensor rank, dimensions, offset, name, type.
    seed("weight_table", "one-matrix", std::string("\x01\x00\x00\x01\x02\x04\x04\x00\x00\x00\x00\x01", 12));
    seed("weight_table", "two-adjacent", std::string("\x00\x40\x00\x02\x01\x08\x00\x00\x00\x00\x01\x01\x08\x00\x00\x20\x01\x01", 18));
    seed("weight_table", "empty-and-wide", std::string("\x00\x10\x00\x02\x02\x00\xff\x7f\xff\xff\xff\x00\x00\x00\x02\x01\x01\xfe\xff\x00\x00\x00\x00\x03\x02", 25));

    // Checkpoints in the hub's naming, in each element type.
    for (const char* dtype : {"F32", "F16", "BF16"}) {
        std::ostringstream out;
        ml::WhisperCheckpoint::writeSafetensors(out, ml::WhisperCheckpoint::hubTensors(tinyShape(), dtype), [](const auto& tensor) {
            std::size_t count = 1;
            for (int dimension : tensor.shape) {
                count *= static_cast<std::size_t>(dimension);
            }
            return std::vector<float>(count, 0.25f);
        });
        seed("safetensors_header", std::string("tiny-") + dtype, out.str());
    }
}

void audioSeeds(const fs::path& scratch)
{
    std::vector<float> tone(1600);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = 0.4f * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * static_cast<double>(i) / 16000));
    }
    auto writeWith = [&](const std::string& name, platform::AudioFileSettings settings, int channels) {
        platform::AudioFileWriter writer(scratch / name, settings);
        auto buffer = platform::PCMBuffer::make({static_cast<double>(settings.sampleRate), channels}, static_cast<std::uint32_t>(tone.size()));
        for (int c = 0; c < channels; ++c) {
            std::copy(tone.begin(), tone.end(), buffer->channelData(c));
        }
        buffer->setFrameLength(static_cast<std::uint32_t>(tone.size()));
        writer.write(*buffer);
        writer.close();
        return fileBytes(scratch / name);
    };
    using Format = platform::AudioFileSettings::FormatID;
    // The target's first byte picks the extension: 0 .wav, 1 .flac, 2 .mp3, 3 .m4a, 4 .ogg.
    seed("audio_file", "mono.wav", std::string(1, '\0') + writeWith("mono.wav", {Format::linearPCM, 16000, 1, std::nullopt}, 1));
    seed("audio_file", "stereo.wav", std::string(1, '\0') + writeWith("stereo.wav", {Format::linearPCM, 44100, 2, std::nullopt}, 2));
    seed("audio_file", "aac.m4a", std::string(1, '\3') + writeWith("aac.m4a", {Format::mpeg4AAC, 16000, 1, 32000}, 1));
    struct Encoded {
        const char* name;
        const char* muxer;
        const char* encoder;
        char extension;
    };
    // FLAC takes integer samples, which the library encoder does not feed; sox writes it.
    const auto flac = scratch / "tone.flac";
    if (std::system(("sox -n -r 16000 -c 1 -b 16 '" + flac.string() + "' synth 0.1 sine 440 2>/dev/null").c_str()) == 0) {
        seed("audio_file", "tone.flac", std::string(1, '\1') + fileBytes(flac));
    }
    for (const Encoded& encoded : {Encoded {"mp3.mp3", "mp3", "libmp3lame", '\2'},
             Encoded {"vorbis.ogg", "ogg", "libvorbis", '\4'}, Encoded {"opus.ogg", "ogg", "libopus", '\4'}}) {
        if (testsupport::encodeWithLibrary(scratch / encoded.name, encoded.muxer, encoded.encoder, 16000, {tone})) {
            seed("audio_file", encoded.name, std::string(1, encoded.extension) + fileBytes(scratch / encoded.name));
        }
    }
}

void listingAndCloudSeeds()
{
    // The loopback hub's listing form.
    json siblings = json::array();
    for (const char* name : {"config.json", "tokenizer.json", "openai_whisper-tiny/AudioEncoder.mlmodelc/weights/weight.bin"}) {
        siblings.push_back({{"rfilename", name}});
    }
    seed("hub_listing", "models", json({{"id", "models/openai/whisper-tiny"}, {"siblings", siblings}}).dump());
    seed("hub_listing", "empty", R"({"id": "models/o/n", "siblings": []})");

    const auto token = platform::cloud::ServerChangeToken(3, 41).bytes();
    seed("cloud_fields", "token", std::string(token.begin(), token.end()));
    const std::string number = platform::cloud::server::doubleText(0.1);
    std::string fields = std::string(1, static_cast<char>(number.size())) + number + std::string("\x9a\x99\x99\x99\x99\x99\xb9\x3f", 8)
        + std::string("\x00\x00\x01\x8f\x00\x00\x00\x00", 8) + "\x04zone\x06record\x0aRecording" + "\x05title\x00\x05Hello"
        + std::string("\x08" "duration\x01", 10);
    seed("cloud_fields", "record", fields);

    // Stored rows as another program may leave them: NULL columns, kinds that do not match the
    // field, number text that is none, and fields left out ("modifiedAt", "deviceID").
    const auto storedRow = [](const std::string& key, char kind, char nulls, const std::string& text,
                              const std::string& numberText) {
        return std::string(1, static_cast<char>(key.size())) + key + '\x03' + kind + nulls
            + static_cast<char>(text.size()) + text + static_cast<char>(numberText.size()) + numberText
            + std::string("\x00\x00\x01\x8f\x00\x00\x00\x00", 8);
    };
    const std::string head = fields.substr(0, fields.find("\x05title"));
    seed("cloud_fields", "null-fields",
         head + storedRow("title", 0, 1, "", "") + storedRow("duration", 1, 2, "", "") + storedRow("date", 2, 4, "", "")
             + storedRow("category", 0, 0, "Note", ""));
    seed("cloud_fields", "mismatched-kinds",
         head + storedRow("title", 1, 0, "Hello", "abc") + storedRow("duration", 0, 0, "1.5", "1.5")
             + storedRow("date", 0, 0, "2026-01-01", "") + storedRow("transcription", 5, 0, "words", "")
             + storedRow("audioAsset", 3, 7, "", "") + storedRow("category", 4, 0, "Note", ""));
    seed("cloud_fields", "stored-rows",
         head + storedRow("title", 0, 6, "Hello", "") + storedRow("duration", 1, 5, "", number)
             + storedRow("date", 2, 3, "", ""));
}

void recordingSeeds()
{
#ifdef PARLINO_FUZZ_QT
    parlino::Recording recording;
    recording.id = QUuid::fromString(QStringLiteral("{6f1c3a52-8a64-4c1e-9b53-0d2e8f9c7a10}"));
    recording.audioURL = "/home/user/Recordings/Meeting notes.m4a";
    recording.title = QStringLiteral("Meeting notes");
    recording.transcription = QStringLiteral("We agreed on the plan. \"Quotes\" and slashes / too.");
    recording.duration = 125.5;
    recording.date = QDateTime(QDate(2025, 1, 31), QTime(14, 30), QTimeZone::utc());
    recording.category = parlino::RecordingCategory::meeting;
    seed("recording_sidecar", "plain", parlino::encodeRecording(recording).toStdString());
    recording.cloudKitRecordID = QStringLiteral("record-1");
    recording.syncedAt = QDateTime(QDate(2025, 2, 1), QTime(8, 0), QTimeZone::utc());
    recording.deviceID = QStringLiteral("desk");
    recording.title = QStringLiteral("Z\xC3\xA1pisky \xF0\x9F\x8E\x99");
    seed("recording_sidecar", "synced", parlino::encodeRecording(recording).toStdString());
#endif
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: fuzz-seeds DIR\n";
        return 2;
    }
    output = argv[1];
    const fs::path scratch = fuzzsupport::scratchFolder();
    try {
        tokenizerSeeds();
        modelSeeds(scratch);
        audioSeeds(scratch);
        listingAndCloudSeeds();
        recordingSeeds();
    } catch (const std::exception& error) {
        std::cerr << "fuzz-seeds: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
