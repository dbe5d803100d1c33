// What the pages share: the folder tree, the treemap with its zoom, trail, keyboard and tooltip,
// the legend, and the table with its sorting and filter box; a page's own script (report.js,
// comparison.js) describes its folders to them. Names only ever become text (textContent), never
// markup.
// The zoomed folder is the page's fragment (#path), so that Back and Forward move between zooms.

const mostCells = 3000;   // the largest rectangles first, up to this many
const smallestSide = 3;   // pixels
const headerHeight = 15;  // a folder's name strip above its subfolders
const padding = 2;
const batch = 200;  // table rows and list items added at a time, as the list scrolls

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

// The folders of `rows`, each made by `folderOfRow(row, index)` with its parent's index in
// `parent` and its name below the parent in `name`; each gets `up`, `children` and `path`.
// Paths are joined by `separator`. A report that ends early can hold several folders without a
// parent: one more folder, named `topName`, then holds them. Returns {folders, root}.
function folderTree(rows, folderOfRow, separator, topName) {
  const folders = rows.map(folderOfRow);
  for (const f of folders) {
    f.children = [];
    f.up = f.parent >= 0 ? folders[f.parent] : null;
  }
  for (const f of folders)
    if (f.up) f.up.children.push(f);
  const joined = (folder, name) =>
      folder.endsWith(separator) ? folder + name : folder + separator + name;
  // Each path from its parent's, whatever the order of the rows.
  for (const f of folders) {
    const chain = [];
    for (let g = f; g && g.path === undefined; g = g.up) chain.push(g);
    for (let i = chain.length - 1; i >= 0; i--) {
      const g = chain[i];
      g.path = g.up ? joined(g.up.path, g.name) : g.name;
    }
  }
  const tops = folders.filter((f) => !f.up);
  if (tops.length === 1) return {folders, root: tops[0]};
  const root = {index: -1, name: topName, path: topName, children: tops, up: null, synthetic: true};
  for (const f of tops) f.up = root;
  return {folders, root};
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

// A folder's own files and its subfolders without a rectangle take the rest of its area, where
// its own colour shows.
function childBoxes(box) {
  const folder = box.folder;
  const inner = {
    x: box.x + padding,
    y: box.y + headerHeight,
    w: box.w - 2 * padding,
    h: box.h - headerHeight - padding
  };
  if (!folder.children.length || inner.w < smallestSide || inner.h < smallestSide) return [];
  const items = folder.children.filter((f) => f.area > 0).map((f) => ({folder: f, size: f.area}));
  const shown = items.reduce((sum, item) => sum + item.size, 0);
  if (folder.area > shown) items.push({folder: null, size: folder.area - shown});
  items.sort((a, b) => b.size - a.size);
  return squarify(items, inner.x, inner.y, inner.w, inner.h)
      .filter((b) => b.folder && b.w >= smallestSide && b.h >= smallestSide);
}

// A max-heap of boxes by area, so that the largest are drawn first.
function pushBox(heap, box) {
  box.pixels = box.w * box.h;
  heap.push(box);
  for (let i = heap.length - 1; i > 0;) {
    const up = (i - 1) >> 1;
    if (heap[up].pixels >= heap[i].pixels) break;
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
        if (child < heap.length && heap[child].pixels > heap[largest].pixels) largest = child;
      if (largest === i) break;
      [heap[largest], heap[i]] = [heap[i], heap[largest]];
      i = largest;
    }
  }
  return top;
}

function drawLegend(title, entries) {
  const legend = document.getElementById('legend');
  legend.textContent = '';
  legend.appendChild(element('span', 'legend-title', title));
  for (const [name, shade, mark] of entries) {
    const entry = element('span', 'legend-entry', name);
    const swatch = element('span', mark ? `swatch ${mark}` : 'swatch');
    swatch.style.background = shade;
    entry.prepend(swatch);
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

// The treemap of view.root's tree. Each folder has `area`; view.colour(f) is its cell's
// background, view.mark(f) a class that marks its cell (or ''), view.sizeText(f) the size on its
// label, view.tip(f) the [name, value] lines of its tooltip.
function showMap(view) {
  const map = document.getElementById('map');
  const tip = document.getElementById('tip');
  const trail = document.getElementById('trail');
  let focus = view.root;
  let pointer = null;  // where the mouse last was over the map
  let focusCellAfterDrawing = false;

  const folderOf = (cell) => cell.dataset.index >= 0 ? view.folders[cell.dataset.index] : view.root;
  const labelOf = (f) => f === focus ? f.path : f.name;

  function drawCell(box, withChildren) {
    const f = box.folder;
    const mark = view.mark(f);
    const cell = element('div', `cell${withChildren ? ' parent' : ''}${mark ? ' ' + mark : ''}`);
    cell.dataset.index = f.index;
    Object.assign(cell.style, {
      left: `${box.x}px`,
      top: `${box.y}px`,
      width: `${box.w}px`,
      height: `${box.h}px`,
      background: view.colour(f),
    });
    if (f.up === focus) {
      // The folders one level down are reached by Tab and opened by Enter.
      cell.tabIndex = 0;
      cell.setAttribute('role', 'button');
      cell.setAttribute('aria-label', `${f.name}, ${view.sizeText(f)}`);
    }
    if (box.w > 30 && box.h > 12) {
      const label = element('span', 'label', labelOf(f));
      const size = view.sizeText(f);
      if (size) label.appendChild(element('span', 'size', size));
      cell.appendChild(label);
    }
    map.appendChild(cell);
  }

  function drawTrail() {
    trail.textContent = '';
    if (focus === view.root) {
      trail.appendChild(element(
          'span', 'hint',
          'Click a folder, or Tab to it and press Enter, to zoom into it; hover over it or ' +
              'Tab to it to see its row; Back returns.'));
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

  function showTip(f, x, y) {
    tip.textContent = '';
    tip.appendChild(element('div', 'tip-path', f.path));
    for (const [name, value] of view.tip(f))
      tip.appendChild(element('div', '', `${name}: ${value}`));
    tip.hidden = false;
    const left = Math.min(x + 14, window.innerWidth - tip.offsetWidth - 4);
    const top = y + 18 + tip.offsetHeight < window.innerHeight ? y + 18 : y - tip.offsetHeight - 8;
    tip.style.left = `${Math.max(0, left)}px`;
    tip.style.top = `${Math.max(0, top)}px`;
  }

  // The tooltip tells of the cell under the mouse, also when a zoom put another cell there.
  function followPointer() {
    const under = pointer && document.elementFromPoint(pointer.x, pointer.y);
    const cell = under && map.contains(under) ? under.closest('.cell') : null;
    if (cell) {
      showTip(folderOf(cell), pointer.x, pointer.y);
    } else {
      tip.hidden = true;
    }
  }

  function drawMap() {
    drawTrail();
    map.textContent = '';
    if (!(focus.area > 0)) {
      map.appendChild(element('p', 'empty', view.emptyText));
    } else {
      const heap = [];
      pushBox(heap, {folder: focus, x: 0, y: 0, w: map.clientWidth, h: map.clientHeight});
      for (let drawn = 0; heap.length && drawn < mostCells; drawn++) {
        const box = popBox(heap);
        const children = childBoxes(box);
        drawCell(box, children.length > 0);
        for (const child of children) pushBox(heap, child);
      }
    }
    if (focusCellAfterDrawing) {
      focusCellAfterDrawing = false;
      const first = map.querySelector('.cell[tabindex]');
      (first || map).focus();
    }
    followPointer();
  }

  // The folder a fragment names, or the root for an empty or unknown one.
  function folderOfFragment() {
    let path;
    try {
      path = decodeURIComponent(location.hash.slice(1));
    } catch (error) {
      return view.root;
    }
    if (!path) return view.root;
    return view.folders.find((f) => f.path === path && f.area > 0) || view.root;
  }

  // Zooming changes the fragment; the fragment's change draws the map, also for Back and Forward.
  function zoom(folder) {
    const fragment = folder === view.root ? '' : encodeURIComponent(folder.path);
    if (location.hash.slice(1) === fragment) return;
    location.hash = fragment;
  }
  window.addEventListener('hashchange', () => {
    focusCellAfterDrawing = map.contains(document.activeElement) || focusCellAfterDrawing;
    focus = folderOfFragment();
    drawMap();
  });

  map.addEventListener('click', (event) => {
    const cell = event.target.closest('.cell');
    if (!cell) return;
    let target = folderOf(cell);
    while (target !== focus && !target.children.length) target = target.up;
    if (target !== focus) zoom(target);
  });
  map.addEventListener('keydown', (event) => {
    const cell = event.target.closest && event.target.closest('.cell');
    if ((event.key === 'Enter' || event.key === ' ') && cell) {
      const f = folderOf(cell);
      if (f !== focus && f.children.some((g) => g.area > 0)) {
        focusCellAfterDrawing = true;
        zoom(f);
      }
      event.preventDefault();
    } else if ((event.key === 'Escape' || event.key === 'Backspace') && focus.up) {
      focusCellAfterDrawing = true;
      zoom(focus.up);
      event.preventDefault();
    }
  });
  map.addEventListener('focusin', (event) => {
    const cell = event.target.closest && event.target.closest('.cell');
    if (!cell) return;
    const box = cell.getBoundingClientRect();
    showTip(folderOf(cell), box.left + 4, box.top + 4);
  });
  map.addEventListener('focusout', () => {
    tip.hidden = true;
  });
  map.addEventListener('mousemove', (event) => {
    pointer = {x: event.clientX, y: event.clientY};
    followPointer();
  });
  map.addEventListener('mouseleave', () => {
    pointer = null;
    tip.hidden = true;
  });

  focus = folderOfFragment();
  drawMap();
  // Drawn again when the map changes size, once the window has its size too.
  let drawnSize = `${map.clientWidth}x${map.clientHeight}`;
  new ResizeObserver(() => {
    const size = `${map.clientWidth}x${map.clientHeight}`;
    if (size !== drawnSize) {
      drawnSize = size;
      drawMap();
    }
  }).observe(map);
}

// The path column that both tables open with.
const pathColumn = {
  name: 'path',
  key: (f) => f.path,
  falling: false,
  orders: ['path, A to Z', 'path, Z to A'],
  cell: (f) => f.path
};

// A column of numbers, first sorted largest first; its orders' names end in `rising` and
// `falling`.
function numberColumn(name, key, cell, rising = 'smallest first', falling = 'largest first') {
  return {
    name,
    number: true,
    key,
    falling: true,
    orders: [`${name}, ${rising}`, `${name}, ${falling}`],
    cell
  };
}

// The table of `rows` in the element #rows, sortable by each of `columns` with a button in its
// heading, and narrowed to the rows whose path holds the filter box's text (any case). A column:
// {name, number, key(f), falling (its first sort), orders: [rising, falling], cell(f),
// cellClass(f)}. `first` names the column it is first sorted by.
function showTable(rows, columns, first, noun) {
  const table = document.getElementById('rows');
  const headings = table.querySelector('thead tr');
  const body = table.querySelector('tbody');
  const summary = document.getElementById('table-summary');
  const filterBox = document.getElementById('filter');
  let sorted = {column: first, falling: columns[first].falling};
  let order = [];  // `rows`, sorted

  for (const [id, column] of Object.entries(columns)) {
    const heading = element('th', column.number ? 'number' : '');
    heading.dataset.key = id;
    const button = element('button', '', column.name);
    button.addEventListener('click', () => {
      sorted = {column: id, falling: id === sorted.column ? !sorted.falling : column.falling};
      sort();
      show();
    });
    heading.appendChild(button);
    headings.appendChild(heading);
  }

  function sort() {
    const {key} = columns[sorted.column];
    const sign = sorted.falling ? -1 : 1;
    // Each key taken once: a sort compares each row many times.
    const keys = rows.map(key);
    order = rows.map((f, i) => i);
    order.sort((a, b) => {
      const x = keys[a], y = keys[b];
      return x < y ? -sign : x > y ? sign : a - b;
    });
    order = order.map((i) => rows[i]);
  }

  function show() {
    const text = filterBox.value.trim().toLowerCase();
    const shown = text ? order.filter((f) => f.path.toLowerCase().includes(text)) : order;
    body.textContent = '';
    fillLazily(document.getElementById('table-box'), body, shown.length, (i) => {
      const f = shown[i];
      const row = element('tr');
      for (const column of Object.values(columns)) {
        const classes =
            [column.number ? 'number' : '', column.cellClass ? column.cellClass(f) : ''];
        row.appendChild(element('td', classes.filter(Boolean).join(' '), column.cell(f)));
      }
      return row;
    });
    for (const heading of headings.children) {
      if (heading.dataset.key === sorted.column) {
        heading.setAttribute('aria-sort', sorted.falling ? 'descending' : 'ascending');
      } else {
        heading.removeAttribute('aria-sort');
      }
    }
    const by = columns[sorted.column].orders[sorted.falling ? 1 : 0];
    summary.textContent = (text ? `${shown.length} of ${rows.length} ${noun} hold "${text}"` :
                                  `${rows.length} ${noun}`) +
        `, by ${by}. A heading's button sorts by its column.`;
  }

  filterBox.addEventListener('input', show);
  sort();
  show();
}

// A list of items in `list`, shown a batch at a time as `box` scrolls; `make(i)` makes item i.
function showList(box, list, count, make) {
  fillLazily(document.getElementById(box), document.getElementById(list), count, make);
}
