// The page's script: draws the treemap, the table and the list of errors from the report's data.
// Names only ever become text (textContent), never markup.
'use strict';
(function() {
const data = JSON.parse(document.getElementById('report-data').textContent);
const separator = data.separator;
const mostCells = 3000;   // the largest rectangles first, up to this many
const smallestSide = 3;   // pixels
const headerHeight = 15;  // a folder's name strip above its subfolders
const padding = 2;
const batch = 200;  // table rows and errors added at a time, as the list scrolls
const ages = [
  [7, 'within a week', '#f4a582'],
  [31, 'within a month', '#fdd49e'],
  [92, 'within 3 months', '#fff2ae'],
  [366, 'within a year', '#d9f0d3'],
  [1096, 'within 3 years', '#c6dbef'],
  [Infinity, 'older', '#cbc9e2'],
];
const noFiles = ['no files', '#f4f4f4'];
const unknownStamp = ['stamp not understood', '#d0d0d0'];

// One folder per row; rows come after their subfolders, so a parent's index is higher.
function folderOfRow(row, index) {
  const [parent, name, total, disk, count, totalText, diskText, stampText, stampKind, stampSeconds] =
      row;
  return {
    index,
    parent,
    name,
    total,
    disk,
    count,
    totalText,
    diskText,
    stampText,
    stampKind,
    stampSeconds,
    children: []
  };
}
const folders = data.rows.map(folderOfRow);
const joined = (folder, name) =>
    folder.endsWith(separator) ? folder + name : folder + separator + name;
for (let i = folders.length - 1; i >= 0; i--) {
  const f = folders[i];
  f.up = f.parent >= 0 ? folders[f.parent] : null;
  f.path = f.up ? joined(f.up.path, f.name) : f.name;
  if (f.up) f.up.children.push(f);
}
// A report that ends early can hold several folders without a parent: one more folder holds them.
const tops = folders.filter((f) => !f.up);
const root = tops.length === 1 ? tops[0] : {
  index: -1,
  name: data.folder,
  path: data.folder,
  children: tops,
  stampKind: 2,
  total: tops.reduce((sum, f) => sum + f.total, 0),
  totalText: '',
  diskText: '',
  stampText: '',
};
for (const f of tops)
  if (f !== root) f.up = root;

const newest = folders.reduce(
    (most, f) => f.stampKind === 0 ? Math.max(most, f.stampSeconds) : most, -Infinity);
function colour(folder) {
  if (folder.stampKind === 1) return noFiles[1];
  if (folder.stampKind !== 0) return unknownStamp[1];
  const days = (newest - folder.stampSeconds) / 86400;
  return ages.find(([most]) => days <= most)[2];
}

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

// Squarified layout: children in falling size, laid in strips along the shorter side, each
// strip grown while that keeps its rectangles closer to squares.
function squarify(items, x, y, w, h) {
  const boxes = [];
  let remaining = items.reduce((sum, item) => sum + item.size, 0);
  for (let start = 0; start < items.length && remaining > 0;) {
    const side = Math.min(w, h);
    const scale = (w * h) / remaining;
    const worst = (sum, largest, smallest) => {
      const area = sum * scale;
      return Math.max(
          (side * side * largest * scale) / (area * area),
          (area * area) / (side * side * smallest * scale));
    };
    let end = start + 1;
    let sum = items[start].size;
    while (end < items.length &&
           worst(sum + items[end].size, items[start].size, items[end].size) <=
               worst(sum, items[start].size, items[end - 1].size)) {
      sum += items[end++].size;
    }
    const thickness = (sum * scale) / side;
    let along = 0;
    for (let i = start; i < end; i++) {
      const length = (items[i].size * scale) / thickness;
      boxes.push(
          w >= h ? {folder: items[i].folder, x, y: y + along, w: thickness, h: length} :
                   {folder: items[i].folder, x: x + along, y, w: length, h: thickness});
      along += length;
    }
    if (w >= h) {
      x += thickness;
      w -= thickness;
    } else {
      y += thickness;
      h -= thickness;
    }
    remaining -= sum;
    start = end;
  }
  return boxes;
}

// A folder's own files and its subfolders below the threshold take the rest of its area,
// where its own colour shows.
function childBoxes(box) {
  const folder = box.folder;
  const inner = {
    x: box.x + padding,
    y: box.y + headerHeight,
    w: box.w - 2 * padding,
    h: box.h - headerHeight - padding
  };
  if (!folder.children.length || inner.w < smallestSide || inner.h < smallestSide) return [];
  const items = folder.children.filter((f) => f.total > 0).map((f) => ({folder: f, size: f.total}));
  const shown = items.reduce((sum, item) => sum + item.size, 0);
  if (folder.total > shown) items.push({folder: null, size: folder.total - shown});
  items.sort((a, b) => b.size - a.size);
  return squarify(items, inner.x, inner.y, inner.w, inner.h)
      .filter((b) => b.folder && b.w >= smallestSide && b.h >= smallestSide);
}

// A max-heap of boxes by area, so that the largest are drawn first.
function pushBox(heap, box) {
  box.area = box.w * box.h;
  heap.push(box);
  for (let i = heap.length - 1; i > 0;) {
    const up = (i - 1) >> 1;
    if (heap[up].area >= heap[i].area) break;
    [heap[up], heap[i]] = [heap[i], heap[up]];
    i = up;
  }
}
function popBox(heap) {
  const top = heap[0];
  const last = heap.pop();
  if (heap.length) {
    heap[0] = last;
    for (let i = 0;;) {
      let largest = i;
      for (const child of [2 * i + 1, 2 * i + 2])
        if (child < heap.length && heap[child].area > heap[largest].area) largest = child;
      if (largest === i) break;
      [heap[largest], heap[i]] = [heap[i], heap[largest]];
      i = largest;
    }
  }
  return top;
}

const map = document.getElementById('map');
let focus = root;

function drawCell(box, withChildren) {
  const cell = element('div', withChildren ? 'cell parent' : 'cell');
  cell.dataset.index = box.folder.index;
  Object.assign(cell.style, {
    left: `${box.x}px`,
    top: `${box.y}px`,
    width: `${box.w}px`,
    height: `${box.h}px`,
    background: colour(box.folder),
  });
  if (box.w > 30 && box.h > 12) {
    const label =
        element('span', 'label', box.folder === focus ? box.folder.path : box.folder.name);
    if (box.folder.totalText) label.appendChild(element('span', 'size', box.folder.totalText));
    cell.appendChild(label);
  }
  map.appendChild(cell);
}

function drawMap() {
  drawTrail();
  map.textContent = '';
  if (!(focus.total > 0)) {
    map.appendChild(element('p', 'empty', 'Nothing to draw: the folders hold no bytes.'));
    return;
  }
  const heap = [];
  pushBox(heap, {folder: focus, x: 0, y: 0, w: map.clientWidth, h: map.clientHeight});
  for (let drawn = 0; heap.length && drawn < mostCells; drawn++) {
    const box = popBox(heap);
    const children = childBoxes(box);
    drawCell(box, children.length > 0);
    for (const child of children) pushBox(heap, child);
  }
}

function drawTrail() {
  const trail = document.getElementById('trail');
  trail.textContent = '';
  if (focus === root) {
    trail.appendChild(
        element('span', 'hint', 'Click a folder to zoom into it; hover over it to see its row.'));
    return;
  }
  const chain = [];
  for (let f = focus; f; f = f.up) chain.unshift(f);
  chain.forEach((f, i) => {
    const name = i === 0 ? f.path : f.name;
    if (f === focus) {
      trail.appendChild(element('span', 'here', name));
    } else {
      const step = element('button', '', name);
      step.addEventListener('click', () => zoom(f));
      trail.appendChild(step);
      trail.appendChild(element('span', 'step', ' \u203a '));
    }
  });
}

function zoom(folder) {
  focus = folder;
  drawMap();
}

const folderOf = (cell) => cell.dataset.index >= 0 ? folders[cell.dataset.index] : root;

map.addEventListener('click', (event) => {
  const cell = event.target.closest('.cell');
  if (!cell) return;
  let target = folderOf(cell);
  while (target !== focus && !target.children.length) target = target.up;
  if (target !== focus) zoom(target);
});

const tip = document.getElementById('tip');
map.addEventListener('mousemove', (event) => {
  const cell = event.target.closest('.cell');
  if (!cell) return;
  const f = folderOf(cell);
  tip.textContent = '';
  tip.appendChild(element('div', 'tip-path', f.path));
  if (f.index >= 0) {
    for (const [name, value] of [
             ['total size', f.totalText], ['size on disk', f.diskText],
             ['file count', String(f.count)], ['latest file stamp', f.stampText || '(none)']]) {
      tip.appendChild(element('div', '', `${name}: ${value}`));
    }
  }
  tip.hidden = false;
  const x = Math.min(event.clientX + 14, window.innerWidth - tip.offsetWidth - 4);
  const y = event.clientY + 18 + tip.offsetHeight < window.innerHeight ?
      event.clientY + 18 :
      event.clientY - tip.offsetHeight - 8;
  tip.style.left = `${Math.max(0, x)}px`;
  tip.style.top = `${Math.max(0, y)}px`;
});
map.addEventListener('mouseleave', () => {
  tip.hidden = true;
});

function drawLegend() {
  const legend = document.getElementById('legend');
  const reference =
      newest > -Infinity ? ` (${new Date(newest * 1000).toISOString().slice(0, 10)})` : '';
  legend.appendChild(element(
      'span', 'legend-title',
      `Latest file written, counted back from the newest in the report${reference}:`));
  for (const [, name, shade] of ages.concat([[0, ...noFiles], [0, ...unknownStamp]])) {
    const entry = element('span', 'legend-entry', name);
    entry.prepend(element('span', 'swatch'));
    entry.firstChild.style.background = shade;
    legend.appendChild(entry);
  }
}

// Adds `make(i)` for the next items to `list` whenever `box` is scrolled near its end.
function fillLazily(box, list, count, make) {
  let shown = 0;
  const more = () => {
    const part = document.createDocumentFragment();
    for (const end = Math.min(count, shown + batch); shown < end; shown++)
      part.appendChild(make(shown));
    list.appendChild(part);
  };
  box.onscroll = () => {
    if (box.scrollTop + box.clientHeight > box.scrollHeight - 300) more();
  };
  more();
}

// Each column: its sort key, whether it first sorts falling, and how each order reads.
const columns = {
  path: {key: (f) => f.path, falling: false, orders: ['path, A to Z', 'path, Z to A']},
  total: {
    key: (f) => f.total,
    falling: true,
    orders: ['total size, smallest first', 'total size, largest first']
  },
  disk: {
    key: (f) => f.disk,
    falling: true,
    orders: ['size on disk, smallest first', 'size on disk, largest first']
  },
  count: {
    key: (f) => f.count,
    falling: true,
    orders: ['file count, fewest first', 'file count, most first']
  },
  stamp: {
    key: (f) => f.stampKind === 0 ? f.stampSeconds : -Infinity,
    falling: true,
    orders: ['latest file stamp, earliest first', 'latest file stamp, latest first']
  },
};
let sorted = {column: 'total', falling: true};

function drawTable() {
  const {key} = columns[sorted.column];
  const sign = sorted.falling ? -1 : 1;
  // Each key taken once: a sort compares each row many times.
  const keys = folders.map(key);
  const rows = folders.slice().sort((a, b) => {
    const x = keys[a.index], y = keys[b.index];
    return x < y ? -sign : x > y ? sign : a.index - b.index;
  });
  const body = document.querySelector('#rows tbody');
  body.textContent = '';
  fillLazily(document.getElementById('table-box'), body, rows.length, (i) => {
    const f = rows[i];
    const row = element('tr');
    row.appendChild(element('td', '', f.path));
    for (const text of [f.totalText, f.diskText, String(f.count)])
      row.appendChild(element('td', 'number', text));
    row.appendChild(element('td', f.stampKind === 0 ? '' : 'unknown', f.stampText));
    return row;
  });
  for (const head of document.querySelectorAll('#rows th')) {
    if (head.dataset.key === sorted.column) {
      head.setAttribute('aria-sort', sorted.falling ? 'descending' : 'ascending');
    } else {
      head.removeAttribute('aria-sort');
    }
  }
  const order = columns[sorted.column].orders[sorted.falling ? 1 : 0];
  document.getElementById('table-summary').textContent =
      `${folders.length} folders, by ${order}. Click a heading to sort by it.`;
}

for (const head of document.querySelectorAll('#rows th')) {
  head.addEventListener('click', () => {
    const column = head.dataset.key;
    sorted = {
      column,
      falling: column === sorted.column ? !sorted.falling : columns[column].falling
    };
    drawTable();
  });
}

function drawErrors() {
  if (!data.errors.length) return;
  document.getElementById('errors-section').hidden = false;
  fillLazily(
      document.getElementById('errors-box'), document.getElementById('errors'), data.errors.length,
      (i) => {
        const [path, text] = data.errors[i];
        const item = element('li');
        item.appendChild(element('span', 'error-path', path));
        item.appendChild(element('span', 'error-text', text || '(the system gave no message)'));
        return item;
      });
}

drawLegend();
drawMap();
drawTable();
drawErrors();
// Drawn again when the map changes size, once the window has its size too.
let drawnSize = `${map.clientWidth}x${map.clientHeight}`;
new ResizeObserver(() => {
  const size = `${map.clientWidth}x${map.clientHeight}`;
  if (size !== drawnSize) {
    drawnSize = size;
    drawMap();
  }
}).observe(map);
})();
