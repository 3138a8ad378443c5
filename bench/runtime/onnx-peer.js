// Times one ONNX graph through ONNX Runtime on the CPU, for runtime-bench.
//
//   node onnx-peer.js MODULE_DIR MODEL.onnx THREADS RUNS
//
// MODULE_DIR is the installed onnxruntime-node package. Prints "peer <best ms> <median ms>".
'use strict';

async function main() {
    const [moduleDir, modelPath, threadText, runText] = process.argv.slice(2);
    if (!moduleDir || !modelPath) {
        console.error('usage: node onnx-peer.js MODULE_DIR MODEL.onnx THREADS RUNS');
        process.exit(2);
    }
    const ort = require(moduleDir);
    const threads = Number(threadText || 8);
    const runs = Number(runText || 5);
    const session = await ort.InferenceSession.create(modelPath, {
        executionProviders: ['cpu'],
        graphOptimizationLevel: 'all',
        executionMode: 'sequential',
        intraOpNumThreads: threads,
        interOpNumThreads: 1,
    });
    const input = session.inputNames[0];
    const [, mels, frames] = [1, 80, 3000];
    const data = new Float32Array(mels * frames);
    for (let i = 0; i < data.length; ++i) {
        data[i] = Math.sin(0.01 * i);
    }
    const feeds = {[input]: new ort.Tensor('float32', data, [1, mels, frames])};
    await session.run(feeds); // first run: allocations and kernel preparation
    const times = [];
    for (let run = 0; run < runs; ++run) {
        const start = process.hrtime.bigint();
        await session.run(feeds);
        times.push(Number(process.hrtime.bigint() - start) / 1e6);
    }
    times.sort((a, b) => a - b);
    console.log(`peer ${times[0].toFixed(3)} ${times[Math.floor(times.length / 2)].toFixed(3)}`);
}

main().catch((error) => {
    console.error(String(error && error.message ? error.message : error));
    process.exit(1);
});
